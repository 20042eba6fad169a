#include "EditingTestSupport.h"

#include <filesystem>
#include <mutex>
#include <ostream>
#include <stdexcept>

#include <QApplication>
#include <QTest>

#include "midi/OutputPort.h"

namespace {

class RecordingConnection : public MidiConnection {
public:
    explicit RecordingConnection(std::shared_ptr<MidiRecord> record) : record_(std::move(record)) {}
    bool send(const std::uint8_t* bytes) override {
        record_->Add(bytes);
        return true;
    }

private:
    std::shared_ptr<MidiRecord> record_;
};

}  // namespace

std::unique_ptr<MidiConnection> RecordingSynth::open(const std::string& /*device*/,
                                                     int /*occurrence*/) {
    return std::make_unique<RecordingConnection>(record_);
}

EditingWindow::EditingWindow()
    : busFolder_(QDir::tempPath() + QStringLiteral("/gs-editing-bus-XXXXXX")),
      midi_(std::make_shared<MidiRecord>()) {
    if (!busFolder_.isValid()) {
        throw std::runtime_error("no temporary folder for the instance bus");
    }
    std::filesystem::permissions(busFolder_.path().toStdString(),
                                 std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    MainWindow::Options options;
    // No MIDI input: its JACK side looks for a server every second, beside the servers that
    // other tests start and stop.
    options.noMidiInput = true;
    OutputPort::Drivers drivers;
    drivers.mapper = std::make_unique<RecordingSynth>(midi_);
    options.drivers = std::move(drivers);
    // No calibration busy-wait, no spinning and no real-time priority on a shared test machine.
    options.clock.calibrationMs = 0;
    options.clock.spinUs = 0;
    options.clock.realtimePriority = 0;
    options.busDirectory = busFolder_.path().toStdString();
    window_ = std::make_unique<MainWindow>(std::move(options));
    window_->initialise();
    window_->show();
    if (!QTest::qWaitForWindowExposed(window_.get())) {
        throw std::runtime_error("the main window was never exposed");
    }
    window_->setup().dirty = false;
}

EditingWindow::~EditingWindow() {
    if (window_->player().isRunning()) {
        window_->player().stop();
    }
    window_.reset();
}

void EditingWindow::Press(const MRect& area) {
    QTest::mousePress(window_.get(), Qt::LeftButton, Qt::NoModifier, CentreOf(area));
}

void EditingWindow::Release(const MRect& area) {
    QTest::mouseRelease(window_.get(), Qt::LeftButton, Qt::NoModifier, CentreOf(area));
}

void EditingWindow::Click(const MRect& area) {
    Press(area);
    Release(area);
}

void EditingWindow::SecondaryClick(const MRect& area) {
    QTest::mousePress(window_.get(), Qt::RightButton, Qt::NoModifier, CentreOf(area));
    QTest::mouseRelease(window_.get(), Qt::RightButton, Qt::NoModifier, CentreOf(area));
}

void EditingWindow::CtrlKey(int key) {
    QWidget* target = QApplication::focusWidget() != nullptr ? QApplication::focusWidget()
                                                              : window_.get();
    QTest::keyClick(target, static_cast<Qt::Key>(key), Qt::ControlModifier);
}

void EditingWindow::ShowColumns(int n) {
    window_->panel().FitWindowToColumns(n);
    if (window_->setup().stepsPerMeasure != n) {
        throw std::runtime_error("the window did not take the width of the columns asked for");
    }
}

Step& EditingWindow::StepOf(int measure, int step) {
    return window_->setup()
        .measures[static_cast<std::size_t>(measure)]
        .steps[static_cast<std::size_t>(step)];
}

void EditingWindow::WriteStep(int measure, int step, const Step& value) {
    {
        std::lock_guard guard(window_->player().engineLock());
        StepOf(measure, step) = value;
    }
    Reload();
}

void EditingWindow::Reload() {
    window_->controller().LoadMeasureIntoColumns(window_->setup().selectedMeasure);
}

std::string EditingWindow::Status() { return window_->panel().StatusLine().GetText(); }

Step MakeStep(int on, std::initializer_list<std::int32_t> notes, int program, int velocity,
              int pan, int duration) {
    Step step;
    step.on = static_cast<std::int16_t>(on);
    step.notes = IntArray(notes);
    step.program = static_cast<std::int16_t>(program);
    step.velocity = static_cast<std::int16_t>(velocity);
    step.pan = static_cast<std::int16_t>(pan);
    step.duration = static_cast<std::int16_t>(duration);
    return step;
}

StepValues ValuesOf(const Step& step) {
    return StepValues{step.on,       std::vector<std::int32_t>(step.notes.begin(), step.notes.end()),
                      step.program,  step.velocity,
                      step.pan,      step.duration};
}

std::vector<StepValues> ValuesOf(const Measure& measure) {
    std::vector<StepValues> values;
    for (const Step& step : measure.steps) {
        values.push_back(ValuesOf(step));
    }
    return values;
}

void PrintTo(const StepValues& v, std::ostream* out) {
    *out << "{on " << v.on << ", notes";
    for (const std::int32_t note : v.notes) {
        *out << ' ' << note;
    }
    *out << ", program " << v.program << ", velocity " << v.velocity << ", pan " << v.pan
         << ", duration " << v.duration << "}";
}
