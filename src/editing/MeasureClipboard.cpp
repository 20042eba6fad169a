#include "editing/MeasureClipboard.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <algorithm>
#include <cstdio>
#include <mutex>
#include <span>

#include "core/EngineLock.h"
#include "core/Setup.h"
#include "editing/MeasureClipboardFormat.h"
#include "editing/SetupController.h"

namespace {

const QString kFormatV3 = QString::fromLatin1(MeasureClipboardFormat::kFormatV3Name);
const QString kFormatV2 = QString::fromLatin1(MeasureClipboardFormat::kFormatV2Name);

class SystemClipboardStore : public MeasureClipboard::Store {
public:
    bool hasFormat(const QString& format) override {
        const QMimeData* content = QGuiApplication::clipboard()->mimeData();
        return content != nullptr && content->hasFormat(format);
    }
    QByteArray data(const QString& format) override {
        const QMimeData* content = QGuiApplication::clipboard()->mimeData();
        return content != nullptr ? content->data(format) : QByteArray();
    }
    bool write(std::unique_ptr<QMimeData> content) override {
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->setMimeData(content.release());
        // Where the platform refuses the content, the clipboard does not offer it afterwards.
        const QMimeData* now = clipboard->mimeData();
        return now != nullptr && now->hasFormat(kFormatV3);
    }
};

QByteArray toByteArray(const std::vector<std::uint8_t>& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

// The focused text field's selection, copied as text; false when nothing is selected.
bool copySelectedText() {
    QWidget* focus = QApplication::focusWidget();
    if (auto* line = qobject_cast<QLineEdit*>(focus); line != nullptr && line->hasSelectedText()) {
        line->copy();
        return true;
    }
    if (auto* text = qobject_cast<QTextEdit*>(focus);
        text != nullptr && text->textCursor().hasSelection()) {
        text->copy();
        return true;
    }
    if (auto* plain = qobject_cast<QPlainTextEdit*>(focus);
        plain != nullptr && plain->textCursor().hasSelection()) {
        plain->copy();
        return true;
    }
    return false;
}

void pasteText() {
    if (QWidget* focus = QApplication::focusWidget()) {
        // Text fields have a paste slot; other widgets simply have none.
        QMetaObject::invokeMethod(focus, "paste");
    }
}

}  // namespace

MeasureClipboard::MeasureClipboard() : MeasureClipboard(SystemStore()) {}

MeasureClipboard::MeasureClipboard(std::unique_ptr<Store> store) : store_(std::move(store)) {}

MeasureClipboard::~MeasureClipboard() = default;

std::unique_ptr<MeasureClipboard::Store> MeasureClipboard::SystemStore() {
    return std::make_unique<SystemClipboardStore>();
}

void MeasureClipboard::Attach(Setup& setup, SetupController& controller, EngineLock& engineLock) {
    setup_ = &setup;
    controller_ = &controller;
    engineLock_ = &engineLock;
    setup.copyMeasure.steps = setup.measures[static_cast<std::size_t>(setup.selectedMeasure)].steps;
}

void MeasureClipboard::showNote(const std::string& text) {
    if (showNote_) {
        showNote_(text);
    } else {
        std::fprintf(stderr, "NOTE! %s\n", text.c_str());
    }
}

int MeasureClipboard::ClipboardKind() {
    if (store_->hasFormat(kFormatV3)) {
        return MeasureClipboardFormat::kLayoutV3;
    }
    if (store_->hasFormat(kFormatV2)) {
        return MeasureClipboardFormat::kLayoutV2;
    }
    return 0;
}

void MeasureClipboard::CopyMeasure() {
    if (copySelectedText()) {
        return;
    }
    // copyMeasure stages every copy; the undo snapshot is left alone, so Undo after a copy
    // still takes back the last edit.
    setup_->copyMeasure.steps =
        setup_->measures[static_cast<std::size_t>(setup_->selectedMeasure)].steps;
    auto content = std::make_unique<QMimeData>();
    content->setData(kFormatV3, toByteArray(MeasureClipboardFormat::encodeV3(setup_->copyMeasure)));
    content->setData(kFormatV2, toByteArray(MeasureClipboardFormat::encodeV2(setup_->copyMeasure)));
    if (!store_->write(std::move(content))) {
        showNote(kCopyFailedMessage);
    }
}

void MeasureClipboard::PasteMeasure(bool visible) {
    const int kind = ClipboardKind();
    if (kind == 0) {
        pasteText();
        return;
    }
    const QByteArray bytes =
        store_->data(kind == MeasureClipboardFormat::kLayoutV3 ? kFormatV3 : kFormatV2);
    if (bytes.isEmpty()) {
        return;  // the owner went away between the question and the request
    }
    // Decoded before anything changes: data that ends early leaves the measure, copyMeasure
    // and the undo snapshot as they were.
    Measure pasted;
    try {
        MeasureClipboardFormat::decode(
            std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                      static_cast<std::size_t>(bytes.size())),
            kind, pasted);
    } catch (const MeasureClipboardError& error) {
        showNote(error.what());
        return;
    }
    controller_->TakeSnapshot();
    setup_->copyMeasure.steps = pasted.steps;
    const int count =
        visible ? std::clamp(setup_->stepsPerMeasure, 1, Measure::kStepCount) : Measure::kStepCount;
    {
        std::lock_guard guard(*engineLock_);
        auto& steps = setup_->measures[static_cast<std::size_t>(setup_->selectedMeasure)].steps;
        std::copy_n(pasted.steps.begin(), count, steps.begin());
    }
    controller_->LoadMeasureIntoColumns(setup_->selectedMeasure);
}
