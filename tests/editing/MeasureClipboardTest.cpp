// Copy Measure, Paste Measure and Paste Visible in a real main window, through the clipboard
// of the offscreen platform.
#include <QClipboard>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>

#include "DocumentsTestSupport.h"
#include "editing/MeasureClipboard.h"
#include "editing/MeasureClipboardFormat.h"
#include "editing/SetupController.h"
#include "panels/CommandIds.h"
#include "toolkit/MDialEdit.h"

using namespace CommandIds;

namespace {

const QString kV3 = QString::fromLatin1(MeasureClipboardFormat::kFormatV3Name);
const QString kV2 = QString::fromLatin1(MeasureClipboardFormat::kFormatV2Name);

std::vector<std::int32_t> notesOf(const Step& step) {
    return std::vector<std::int32_t>(step.notes.begin(), step.notes.end());
}

void expectSameStep(const Step& actual, const Step& expected, int index) {
    EXPECT_EQ(actual.on, expected.on) << "step " << index;
    EXPECT_EQ(notesOf(actual), notesOf(expected)) << "step " << index;
    EXPECT_EQ(actual.program, expected.program) << "step " << index;
    EXPECT_EQ(actual.velocity, expected.velocity) << "step " << index;
    EXPECT_EQ(actual.pan, expected.pan) << "step " << index;
    EXPECT_EQ(actual.duration, expected.duration) << "step " << index;
}

QByteArray bytesOf(const std::vector<std::uint8_t>& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

void putOnClipboard(const QString& format, const QByteArray& bytes) {
    auto* content = new QMimeData;
    content->setData(format, bytes);
    QGuiApplication::clipboard()->setMimeData(content);
}

// A clipboard that refuses every write, as a platform without a usable clipboard does.
class RefusingStore : public MeasureClipboard::Store {
public:
    bool hasFormat(const QString&) override { return false; }
    QByteArray data(const QString&) override { return {}; }
    bool write(std::unique_ptr<QMimeData>) override { return false; }
};

class MeasureClipboardTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        makeWindow();
        QGuiApplication::clipboard()->clear();
        // Loop 1 holds chords of every size, a silent step and values at their limits.
        Measure& first = setup().measures[0];
        for (int i = 0; i < Measure::kStepCount; ++i) {
            Step& step = first.steps[static_cast<std::size_t>(i)];
            step.on = static_cast<std::int16_t>(i % 3 == 0 ? 0 : 1);
            step.notes = IntArray{};
            for (int n = 0; n < i % 5; ++n) {
                step.notes.add(-60 + 7 * n + i);
            }
            step.program = static_cast<std::int16_t>(i == 4 ? -1 : 8 * i);
            step.velocity = static_cast<std::int16_t>(127 - i);
            step.pan = static_cast<std::int16_t>(4 * i);
            step.duration = static_cast<std::int16_t>(i);
        }
        window->controller().SelectMeasure(0);
        setup().dirty = false;
    }

    Measure& selected() {
        return setup().measures[static_cast<std::size_t>(setup().selectedMeasure)];
    }
    void command(int id) { window->onCommand(id); }
};

TEST_F(MeasureClipboardTest, CopyThenPasteIntoAnotherLoopReproducesChords) {
    const Measure original = setup().measures[0];
    command(ID_COPY_MEASURE);
    EXPECT_EQ(window->clipboard().ClipboardKind(), 3);
    window->controller().SelectMeasure(5);
    command(ID_PASTE_MEASURE);
    for (int i = 0; i < Measure::kStepCount; ++i) {
        expectSameStep(setup().measures[5].steps[static_cast<std::size_t>(i)],
                       original.steps[static_cast<std::size_t>(i)], i);
    }
    // The columns show what was pasted.
    EXPECT_EQ(window->panel().Column(3).GetNotes(), original.steps[3].notes);
    EXPECT_TRUE(setup().dirty);
    EXPECT_EQ(setup().undoMeasureIndex, 5);
}

TEST_F(MeasureClipboardTest, BothLayoutsAreOnTheClipboardByteForByte) {
    command(ID_COPY_MEASURE);
    const QMimeData* content = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(content, nullptr);
    EXPECT_EQ(content->data(kV3), bytesOf(MeasureClipboardFormat::encodeV3(setup().measures[0])));
    EXPECT_EQ(content->data(kV2), bytesOf(MeasureClipboardFormat::encodeV2(setup().measures[0])));
}

TEST_F(MeasureClipboardTest, LayoutTwoAloneGivesSingleNotes) {
    Measure chords;
    chords.steps[0].notes = IntArray{0, 4, 7};
    chords.steps[1].notes = IntArray{-5, 3};
    chords.steps[2].notes = IntArray{};
    putOnClipboard(kV2, bytesOf(MeasureClipboardFormat::encodeV2(chords)));
    EXPECT_EQ(window->clipboard().ClipboardKind(), 2);
    command(ID_PASTE_MEASURE);
    EXPECT_EQ(notesOf(selected().steps[0]), std::vector<std::int32_t>{0});
    EXPECT_EQ(notesOf(selected().steps[1]), std::vector<std::int32_t>{-5});
    EXPECT_EQ(notesOf(selected().steps[2]), std::vector<std::int32_t>{0});
}

TEST_F(MeasureClipboardTest, StepsWithTheEscapedNoteCountsTravelWhole) {
    for (const int count : {65534, 65535}) {
        Step& big = setup().measures[0].steps[1];
        big.notes.setSize(count);
        for (int n = 0; n < count; ++n) {
            big.notes[n] = n % 128 - 64;
        }
        command(ID_COPY_MEASURE);
        const QByteArray v3 = QGuiApplication::clipboard()->mimeData()->data(kV3);
        // Step 1's count follows step 0 (on, count, its notes, four values) and its own on flag.
        const int countAt =
            2 + 2 + 4 * static_cast<int>(setup().measures[0].steps[0].notes.size()) + 8 + 2;
        ASSERT_GT(v3.size(), countAt + 6);
        const auto at = [&](int i) { return static_cast<int>(static_cast<std::uint8_t>(v3[i])); };
        if (count == 65534) {
            EXPECT_EQ(at(countAt), 0xFE);
            EXPECT_EQ(at(countAt + 1), 0xFF);
        } else {
            EXPECT_EQ(at(countAt), 0xFF);
            EXPECT_EQ(at(countAt + 1), 0xFF);
            EXPECT_EQ(at(countAt + 2) | at(countAt + 3) << 8 | at(countAt + 4) << 16 |
                          at(countAt + 5) << 24,
                      65535);
        }
        window->controller().SelectMeasure(2);
        command(ID_PASTE_MEASURE);
        EXPECT_EQ(setup().measures[2].steps[1].notes.size(), count);
        EXPECT_EQ(setup().measures[2].steps[1].notes[count - 1], (count - 1) % 128 - 64);
        window->controller().SelectMeasure(0);
    }
}

TEST_F(MeasureClipboardTest, PasteVisibleChangesOnlyTheVisibleSteps) {
    command(ID_COPY_MEASURE);
    window->panel().FitWindowToColumns(8);
    ASSERT_EQ(setup().stepsPerMeasure, 8);
    window->controller().SelectMeasure(3);
    const Measure before = setup().measures[3];
    QTest::keyClick(window->defaultButton(), Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    for (int i = 0; i < Measure::kStepCount; ++i) {
        const Measure& source = i < 8 ? setup().measures[0] : before;
        expectSameStep(setup().measures[3].steps[static_cast<std::size_t>(i)],
                       source.steps[static_cast<std::size_t>(i)], i);
    }
}

TEST_F(MeasureClipboardTest, SelectedTextInANoteFieldIsCopiedAsText) {
    command(ID_COPY_MEASURE);
    const QByteArray measureBytes = QGuiApplication::clipboard()->mimeData()->data(kV3);
    MDialEdit* field = window->panel().Column(2).GetNoteDial().GetField();
    ASSERT_NE(field, nullptr);
    field->setText(QStringLiteral("0,4,7"));
    field->setFocus();
    ASSERT_TRUE(waitFor([&] { return field->hasFocus(); }));
    field->setSelection(0, 3);
    ASSERT_TRUE(field->hasSelectedText());
    setup().copyMeasure.steps[0].velocity = 3;  // a copy of the measure would overwrite this

    QTest::keyClick(field, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("0,4"));
    EXPECT_FALSE(QGuiApplication::clipboard()->mimeData()->hasFormat(kV3));
    EXPECT_EQ(setup().copyMeasure.steps[0].velocity, 3);
    EXPECT_NE(measureBytes, QByteArray());
}

TEST_F(MeasureClipboardTest, PasteWithoutMeasureDataTakesNoSnapshot) {
    QGuiApplication::clipboard()->setText(QStringLiteral("12"));
    window->focusDefaultButton();
    const Measure before = selected();
    command(ID_PASTE_MEASURE);
    EXPECT_FALSE(setup().dirty);
    EXPECT_EQ(setup().undoMeasureIndex, -1);
    for (int i = 0; i < Measure::kStepCount; ++i) {
        expectSameStep(selected().steps[static_cast<std::size_t>(i)],
                       before.steps[static_cast<std::size_t>(i)], i);
    }
}

TEST_F(MeasureClipboardTest, PasteWithoutMeasureDataGoesToTheFocusedField) {
    QGuiApplication::clipboard()->setText(QStringLiteral("12"));
    MDialEdit* field = window->panel().Column(0).GetProgramDial().GetField();
    ASSERT_NE(field, nullptr);
    field->clear();
    field->setFocus();
    ASSERT_TRUE(waitFor([&] { return field->hasFocus(); }));
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(field->text(), QStringLiteral("12"));
}

TEST_F(MeasureClipboardTest, MeasureDataWinsOverTheFocusedField) {
    command(ID_COPY_MEASURE);
    MDialEdit* field = window->panel().Column(0).GetProgramDial().GetField();
    field->setText(QStringLiteral("5"));
    field->setFocus();
    ASSERT_TRUE(waitFor([&] { return field->hasFocus(); }));
    window->controller().SelectMeasure(1);
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    expectSameStep(setup().measures[1].steps[2], setup().measures[0].steps[2], 2);
    EXPECT_EQ(setup().undoMeasureIndex, 1);
}

TEST_F(MeasureClipboardTest, DataEndingEarlyLeavesEverythingAndSaysWhy) {
    QByteArray bytes = bytesOf(MeasureClipboardFormat::encodeV3(setup().measures[1]));
    bytes.chop(bytes.size() / 3);
    putOnClipboard(kV3, bytes);
    const Measure before = selected();
    const Measure staged = setup().copyMeasure;
    command(ID_PASTE_MEASURE);
    for (int i = 0; i < Measure::kStepCount; ++i) {
        expectSameStep(selected().steps[static_cast<std::size_t>(i)],
                       before.steps[static_cast<std::size_t>(i)], i);
        expectSameStep(setup().copyMeasure.steps[static_cast<std::size_t>(i)],
                       staged.steps[static_cast<std::size_t>(i)], i);
    }
    EXPECT_FALSE(setup().dirty);
    EXPECT_EQ(setup().undoMeasureIndex, -1);
    EXPECT_EQ(notes, std::vector<std::string>{MeasureClipboardFormat::kEndOfDataMessage});
}

TEST_F(MeasureClipboardTest, UndoAfterACopyStillTakesBackTheLastEdit) {
    const Measure before = selected();
    command(ID_RANDOMIZE);  // takes the snapshot
    const Measure randomized = selected();
    command(ID_COPY_MEASURE);
    command(ID_UNDO);
    for (int i = 0; i < Measure::kStepCount; ++i) {
        expectSameStep(selected().steps[static_cast<std::size_t>(i)],
                       before.steps[static_cast<std::size_t>(i)], i);
    }
    // And the copy still holds the randomized measure.
    window->controller().SelectMeasure(6);
    command(ID_PASTE_MEASURE);
    expectSameStep(setup().measures[6].steps[9], randomized.steps[9], 9);
}

TEST_F(MeasureClipboardTest, ACopyTheClipboardRefusesIsReported) {
    MeasureClipboard refused(std::make_unique<RefusingStore>());
    refused.Attach(setup(), window->controller(), window->player().engineLock());
    refused.setShowNote([this](const std::string& text) { notes.push_back(text); });
    refused.CopyMeasure();
    EXPECT_EQ(notes, std::vector<std::string>{MeasureClipboard::kCopyFailedMessage});
    // The copy was still staged.
    expectSameStep(setup().copyMeasure.steps[7], selected().steps[7], 7);
}

}  // namespace
