// One side of the copy and paste between two running programs: "copy DIR" puts a known
// measure on the clipboard and keeps the window (the clipboard's owner) alive until DIR/done
// appears; "paste DIR" waits for measure data, pastes it into loop 4 and checks every step.
// MeasureClipboardAcrossProcesses.sh runs both under a real X server.
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <string>

#include "OutputPortDoubles.h"
#include "app/MainWindow.h"
#include "app/NoteBox.h"
#include "core/Setup.h"
#include "panels/CommandIds.h"

namespace {

// Chords of one to four notes, a silent step and values at their limits: what layout 2 alone
// could not carry.
Measure knownMeasure() {
    Measure measure;
    for (int i = 0; i < Measure::kStepCount; ++i) {
        Step& step = measure.steps[static_cast<std::size_t>(i)];
        step.on = static_cast<std::int16_t>(i % 2);
        step.notes = IntArray{};
        for (int n = 0; n <= i % 4; ++n) {
            step.notes.add(i - 30 + 5 * n);
        }
        step.program = static_cast<std::int16_t>(i == 0 ? -1 : 127 - i);
        step.velocity = static_cast<std::int16_t>(8 * i);
        step.pan = static_cast<std::int16_t>(127 - 8 * i);
        step.duration = static_cast<std::int16_t>(16 - i);
    }
    return measure;
}

bool sameStep(const Step& a, const Step& b) {
    if (a.on != b.on || a.program != b.program || a.velocity != b.velocity || a.pan != b.pan ||
        a.duration != b.duration || a.notes.size() != b.notes.size()) {
        return false;
    }
    for (std::ptrdiff_t n = 0; n < a.notes.size(); ++n) {
        if (a.notes[n] != b.notes[n]) {
            return false;
        }
    }
    return true;
}

std::unique_ptr<MainWindow> makeWindow(const QString& directory, const char* role) {
    MainWindow::Options options;
    options.busDirectory =
        (directory + QStringLiteral("/bus-") + QString::fromLatin1(role)).toStdString();
    QDir().mkpath(QString::fromStdString(options.busDirectory));
    QFile::setPermissions(QString::fromStdString(options.busDirectory),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    options.clock.calibrationMs = 0;
    options.clock.realtimePriority = 0;
    OutputPort::Drivers drivers;
    auto mapper = std::make_unique<FakeDriver>();
    mapper->add(OutputPort::kMapperName);
    drivers.mapper = std::move(mapper);
    options.drivers = std::move(drivers);
    auto window = std::make_unique<MainWindow>(std::move(options));
    window->initialise();
    window->show();
    return window;
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

int copy(const QString& directory) {
    auto window = makeWindow(directory, "copy");
    window->setup().measures[0] = knownMeasure();
    window->controller().SelectMeasure(0);
    window->onCommand(CommandIds::ID_COPY_MEASURE);
    QFile ready(directory + QStringLiteral("/copied"));
    if (!ready.open(QIODevice::WriteOnly)) {
        return 1;
    }
    ready.close();
    const bool released =
        waitUntil([&] { return QFile::exists(directory + QStringLiteral("/done")); }, 30000);
    window->setup().dirty = false;
    window->closeWithoutQuestion();
    return released ? 0 : 1;
}

int paste(const QString& directory) {
    auto window = makeWindow(directory, "paste");
    if (!waitUntil([&] { return window->clipboard().ClipboardKind() != 0; }, 10000)) {
        std::puts("no measure data arrived on the clipboard");
        return 1;
    }
    const int kind = window->clipboard().ClipboardKind();
    window->controller().SelectMeasure(3);
    window->onCommand(CommandIds::ID_PASTE_MEASURE);
    const Measure expected = knownMeasure();
    int mismatches = 0;
    for (int i = 0; i < Measure::kStepCount; ++i) {
        if (!sameStep(window->setup().measures[3].steps[static_cast<std::size_t>(i)],
                      expected.steps[static_cast<std::size_t>(i)])) {
            std::printf("step %d differs\n", i);
            ++mismatches;
        }
    }
    std::printf("layout %d, %d of 16 steps as copied\n", kind, Measure::kStepCount - mismatches);
    window->setup().dirty = false;
    window->closeWithoutQuestion();
    return mismatches == 0 && kind == 3 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    NoteBox::setHandler([](const std::string& text) { std::printf("NOTE! %s\n", text.c_str()); });
    if (argc != 3) {
        std::fputs("usage: measure_clipboard_peer copy|paste DIR\n", stderr);
        return 2;
    }
    const std::string role = argv[1];
    const QString directory = QString::fromLocal8Bit(argv[2]);
    if (role == "copy") {
        return copy(directory);
    }
    if (role == "paste") {
        return paste(directory);
    }
    return 2;
}
