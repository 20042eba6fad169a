#pragma once

#include <QWidget>
#include <memory>
#include <optional>
#include <string>

#include "app/PostedMessageQueue.h"
#include "app/Preferences.h"
#include "core/Player.h"
#include "core/PlayerHost.h"
#include "core/Setup.h"
#include "decor/CCaptionPainter.h"
#include "editing/MeasureClipboard.h"
#include "editing/SetupController.h"
#include "midi/InstanceBus.h"
#include "midi/MissingPortSearch.h"
#include "midi/OutputPort.h"
#include "midi/StepClock.h"
#include "toolkit/ColorRef.h"
#include "toolkit/ControlHost.h"

class DocumentController;
class ExportController;
class FluidSynthDriver;
class InputTransposer;
class MidiInput;
class MidiInputRouter;
class StepRecorder;
class QSocketNotifier;
class TimeKeeper;
class MainPanel;
class MidiLog;
class QPainter;
class QPushButton;
class RemoteControl;

// The program's one window: it owns the setup, the engine, the clock, the output port and the
// instance bus, builds the main panel, routes mouse input to the controls and control events
// to the controller, handles the keys before any control sees them, and closes the way a
// live instrument must (notes off, port released, never while it is the port's lender).
class MainWindow : public QWidget, public ControlHost, public PlayerHost {
    Q_OBJECT

public:
    struct Options {
        // The setup to open at start-up; empty for a new random one.
        std::string setupPath;
        // Where to record every MIDI message sent (--midi-log), or nothing.
        std::string midiLogPath;
        // --midi-clock, --jack-transport: on for this run whatever the preferences say.
        bool midiClock = false;
        bool jackTransport = false;
        // Devices and synthesizer: the system's, unless a test gives its own.
        std::optional<OutputPort::Drivers> drivers;
        StepClock::Options clock;
        // The instance bus's directory; empty for the per-user default.
        std::string busDirectory;
        // Run by a session manager: the session opens the setup and owns its file, so no
        // setup is made at start, nothing asks a question, and closing only hides the window.
        bool sessionManaged = false;
        // Ableton Link on for this run whatever the preference says (--link).
        bool link = false;
        // --follow-clock: follow the MIDI clock at the input for this run; --midi-input: the
        // input's source for this run (empty: the preference's).
        bool followClock = false;
        std::string midiInput;
        // Open no MIDI input (tests that have no use for one).
        bool noMidiInput = false;
    };

    explicit MainWindow(Options options);
    ~MainWindow() override;

    // The start-up sequence: panel, colour, controller, engine and port, the setup named on
    // the command line or a new one, the preference, the caption.
    void initialise();

    void setTitle(const std::string& text);
    void focusDefaultButton();
    void changeColor();
    void toggleDiagnosticView();
    bool isDiagnosticView() const { return clientHeight_ == kDiagnosticHeight; }
    // Closes without asking anything: stops playback (all notes off) and releases the port.
    // For SIGTERM/SIGINT.
    void closeWithoutQuestion();
    // Asks whether unsaved changes may go; true when the caller may go on.
    bool confirmDiscard();
    // Opens a setup file, a shortcut to one or a path named on the command line.
    void openFile(const std::string& path);
    // Reads the file and applies it to the engine and the window; on failure shows why and
    // leaves everything as it was. True when the setup was read.
    bool readSetup(const std::string& path);
    // The command of a menu item or accelerator.
    void onCommand(int commandId);
    // The about box (command 32795).
    void showAbout();
    // The caption painter's message to the window: draw a caption image (wParam: active,
    // lParam: the CaptionPaintInfo), or drop the caption font (lParam 0).
    static constexpr int kCaptionPaintMessage = 0x400 + 5;
    bool captionPainting() const { return captionPainting_; }
    CCaptionPainter& captionPainter() { return captionPainter_; }

    Setup& setup() { return setup_; }
    Player& player() { return player_; }
    StepClock& clock() { return clock_; }
    OutputPort& port() { return *port_; }
    InstanceBus& bus() { return bus_; }
    MainPanel& panel() { return *panel_; }
    SetupController& controller() { return controller_; }
    DocumentController& documents() { return *documents_; }
    ExportController& exports() { return *exports_; }
    bool sessionManaged() const { return options_.sessionManaged; }
    // A session manager that never answered, or refused the program: from now on the window
    // runs as without one (the setup named on the command line or a new one, shown, Open and
    // Save As back). A late answer hands it back to the session with rejoinSession().
    void leaveSession();
    void rejoinSession();
    // The built-in synthesizer opens only once the port the setup plays to is known: after
    // the start-up setup, or under a session manager after the session's setup.
    void letSynthesizerOpen();
    MeasureClipboard& clipboard() { return clipboard_; }
    Preferences& preferences() { return preferences_; }
    // The owner of the engine's time: which clock leads, start, stop and tempo requests.
    TimeKeeper& time() { return *time_; }
    // What the notes at the input do besides: transpose, record steps.
    InputTransposer& transposer() { return *transposer_; }
    StepRecorder& stepRecorder() { return *stepRecorder_; }
    // The MIDI input opens again under the names ClientNames gives now (a session manager named
    // this copy), with the same source; one already under those names stays.
    void renameMidiInput();
    QPushButton* defaultButton() const { return defaultButton_; }
    bool initDone() const { return initDone_; }
    ColorRef baseColor() const { return baseColor_; }
    // The top-level window's position as a setup stores it.
    QPoint windowPosition() const;

    // PlayerHost.
    void postMessage(int message, std::intptr_t wParam, std::intptr_t lParam) override;
    int broadcastToInstances(int message, std::intptr_t wParam, std::intptr_t lParam) override;
    void setStepColumnLit(int column, bool lit) override;
    void markPlayingMeasure(int index) override;
    void showPlayReleased() override;
    void showStatus(const std::string& text) override;

    // ControlHost.
    QWidget* HostWidget() override { return this; }
    void OnControlEvent(int event, int x, int y, int controlId) override;

    static constexpr const char* kNotSavedBeforeSessionText =
        "Not saved: the session manager has not opened this copy's session yet, and the "
        "session names the file.";

    static constexpr int kNormalHeight = 166;
    static constexpr int kDiagnosticHeight = 179;
    static constexpr const char* kMasterWarning =
        "This is the   +      .  .    +  .   .\n"
        "Glimmerstave    +   .      .   +\n"
        "MIDI Master!   .  .      +  .     +\n"
        "Close not     +     .     .       .  . \n"
        "this one until    .  +      +  .\n"
        "others of this type   +  .     .\n"
        "have themselves been     .   .\n"
        "terminated.  +  .  .    .    +  .";

protected:
    // Tooltips: the control under the pointer, named with its value.
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The command line's --midi-clock and --jack-transport, after the preferences.
    void applyRunOptions();
    // Starts or ends following the JACK transport as the setup's jackTransport says.
    void applyJackTransport();
    void createTimeKeeper();
    // The MIDI input, handing what it hears to the owner of time; its source from the command
    // line or the preferences.
    void createMidiInput();
    void createMidiInputNamed(const std::string& source);
    void createInputPlaying();
    void chooseMidiInput(const std::string& name);
    // Window thread: every Note On, Note Off and Control Change the input has heard since the
    // last wake-up, in the order heard.
    void takeInputMessages();
    void onChannelMessage(const struct ChannelMessage& message);
    void createPort();
    void applyStartColour();
    void openStartSetup();
    void onInstanceMessage(int message, qintptr wParam, qintptr lParam);
    // Key handling ahead of every widget of the window; true when the key was used up.
    bool handleKeyBeforeDispatch(QObject* watched, QKeyEvent* event);
    // Space: this copy and, through the instance bus, the others start or stop together.
    void togglePlay();
    // Ctrl+Space: this copy alone starts or stops.
    void togglePlayThisCopyOnly();
    // Enter in a text field applies it as leaving it does and hands the keys back.
    void applyFieldOnEnter();
    // Centred, down and right of the windows of the other running copies.
    void placeClearOfOtherCopies(int others);
    // Moves the top-level window there and remembers it as its place.
    void placeWindowAt(QPoint at);
    // The tempo, volume and transpose dials take the setup's values.
    void showSetupOnDials();
    bool belongsToThisWindow(QObject* object) const;
    void hideLoopPopupOnInput(QObject* watched, QEvent* event);
    bool closeGuardRefuses();
    void shutDownOutput();
    // releasePort(), but a port let go while the player plays hears All Notes Off first, so
    // that no note it started hangs on its instrument.
    void releasePortSilenced();
    void applyClientHeight(int height);
    void applyReadSetup(const class SetupRecord& record);
    void setDefaultCursor();
    // The menu's port, program and clipboard services, the menu openers and the clipboard.
    void wireMenus();
    // MIDI learn: the bindings from the preferences, and the clicks that choose a control
    // while learning (true when the click was used up).
    void createRemoteControl();
    bool takeLearningClick(QObject* watched, QEvent* event);
    void paintLearningOutline(QPainter& painter);

    Options options_;
    Setup setup_;
    PostedMessageQueue queue_;
    InstanceBus bus_;
    std::unique_ptr<MidiLog> midiLog_;
    std::unique_ptr<OutputPort> port_;
    std::unique_ptr<MissingPortSearch> portSearch_;
    // The port's "MIDI Mapper" driver when it is the built-in synthesizer; owned by the port.
    FluidSynthDriver* synth_ = nullptr;
    Player player_;
    // Declared after the player: it is destroyed first, which stops its thread.
    StepClock clock_;
    Preferences preferences_;
    std::unique_ptr<MainPanel> panel_;
    SetupController controller_;
    MeasureClipboard clipboard_;
    std::unique_ptr<DocumentController> documents_;
    std::unique_ptr<ExportController> exports_;
    // Destroyed before the clock and the player: it hands the engine back its own schedule.
    std::unique_ptr<TimeKeeper> time_;
    // Declared after the owner of time, whose clock follower its threads feed: it is destroyed
    // first, which ends them. The router splits what they hear between the clock follower
    // and the window; it outlives the input.
    std::unique_ptr<MidiInputRouter> inputRouter_;
    std::unique_ptr<QSocketNotifier> inputMessages_;
    std::unique_ptr<MidiInput> input_;
    // The program's client name the input opened under.
    std::string inputNamedAs_;
    std::unique_ptr<InputTransposer> transposer_;
    std::unique_ptr<StepRecorder> stepRecorder_;
    QPushButton* defaultButton_ = nullptr;
    ColorRef baseColor_ = 0;
    ColorRef backgroundColor_ = 0;
    ColorRef textColor_ = 0;
    int clientHeight_ = kNormalHeight;
    QPoint placedAt_;
    bool initDone_ = false;
    bool outputShutDown_ = false;
    // Declared after the panel and the controller it works through: destroyed before them.
    std::unique_ptr<RemoteControl> remote_;
    // A press taken by learning: its release is taken too.
    bool learningClickHeld_ = false;

    // The painted caption. Kept last: the painter is destroyed first and gives the window back
    // its own decoration while everything else still exists.
    void installCaptionPainter();
    void onCaptionMessage(int message, qintptr wParam, qintptr lParam);
    bool captionPainting_ = false;
    CCaptionPainter captionPainter_;
};
