#include "app/MainWindow.h"

#include <unistd.h>

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>

#include "app/Accelerators.h"
#include "app/AccessKeys.h"
#include "app/DocumentController.h"
#include "app/ExportController.h"
#include "app/InputTransposer.h"
#include "app/NoteBox.h"
#include "app/RemoteControl.h"
#include "app/StepRecorder.h"
#include "app/WindowPlacement.h"
#include "core/Messages.h"
#include "core/Random.h"
#include "core/TextFormat.h"
#include "decor/AboutDialog.h"
#include "decor/CaptionFrame.h"
#include "document/FileTypeRegistration.h"
#include "document/PathRules.h"
#include "document/SetupFile.h"
#include "document/SetupFileError.h"
#include "document/SetupRecord.h"
#include "midi/ClientNames.h"
#include "midi/FluidSynthDriver.h"
#include "midi/JackMidiDriver.h"
#include "midi/MidiInput.h"
#include "midi/MidiInputRouter.h"
#include "midi/MidiLog.h"
#include "midi/SystemDrivers.h"
#include "panels/CommandIds.h"
#include "panels/ControlTips.h"
#include "panels/MainPanel.h"
#include "panels/PanelIds.h"
#include "sync/JackTransportTimeline.h"
#include "sync/LinkSession.h"
#include "sync/TimeKeeper.h"
#include "toolkit/Canvas.h"
#include "toolkit/ControlRegistry.h"
#include "toolkit/ControlToolTip.h"
#include "toolkit/InputState.h"
#include "toolkit/MDialEdit.h"
#include "toolkit/Resources.h"
#include "toolkit/ToolkitEvents.h"
#include "toolkit/WindowSystem.h"

using namespace PanelIds;

MainWindow::MainWindow(Options options)
    : options_(std::move(options)),
      clock_(options_.clock),
      preferences_(setup_, clock_, player_),
      documents_(std::make_unique<DocumentController>(*this)),
      exports_(std::make_unique<ExportController>(*this)) {
    connect(&queue_, &PostedMessageQueue::messageArrived, this, &MainWindow::onInstanceMessage);
    connect(&bus_, &InstanceBus::messageReceived, this, &MainWindow::onInstanceMessage);
}

MainWindow::~MainWindow() {
    qApp->removeEventFilter(this);
    shutDownOutput();
    // The owner of time goes before the port.
    if (port_ != nullptr) {
        port_->setTimelineListener({});
    }
}

void MainWindow::initialise() {
    NoteBox::setOwner(this);
    setWindowTitle(QString::fromUtf8(Setup::kTitlePrefix));
    setWindowIcon(Resources::LoadAppIcon());
    setMouseTracking(true);
    applyClientHeight(kNormalHeight);
    resize(kClientWidthMax, kNormalHeight);
    placeClearOfOtherCopies(0);

    // The dialog's one real button: keys 1..8 jump between loops only while it has the focus.
    defaultButton_ = new QPushButton("C", this);
    defaultButton_->setGeometry(0, 0, 0, 0);
    // Where the keys rest: a screen reader announces it when the window gets the focus.
    defaultButton_->setAccessibleName("Sequencer keys");
    defaultButton_->setAccessibleDescription(
        "Space plays or stops, 1 to 8 jump to a loop while playing, F10 opens the File menu, "
        "Shift+F10 the loop panel");

    panel_ = std::make_unique<MainPanel>(setup_, player_.engineLock());
    panel_->Create(*this);
    applyStartColour();
    setDefaultCursor();
    focusDefaultButton();
    controller_.Attach(*panel_, setup_, player_);

    createPort();
    clock_.configure(1, player_);
    player_.init(*this, setup_, clock_, *port_);
    panel_->Menu().attach(setup_);
    panel_->Menu().setCommandHandler([this](int commandId) { onCommand(commandId); });
    wireMenus();

    setup_.dirty = false;
    panel_->LayoutColumns();
    FileTypeRegistration::RegisterFileType();
    setup_.title = Setup::kTitlePrefix;
    if (!options_.sessionManaged) {
        openStartSetup();
        letSynthesizerOpen();
    }
    preferences_.loadPreferences();
    createTimeKeeper();
    createRemoteControl();
    time_->setLinkEnabled(options_.link || Preferences::linkWanted());
    createInputPlaying();
    createMidiInput();
    applyRunOptions();
    installCaptionPainter();
    setTitle(setup_.title);
    qApp->installEventFilter(this);
    initDone_ = true;
}

void MainWindow::applyRunOptions() {
    if (options_.midiClock) {
        setup_.midiClock = true;
        player_.setMidiClock(true);
    }
    if (options_.jackTransport) {
        setup_.jackTransport = true;
    }
    applyJackTransport();
    time_->setClockFollowed(options_.followClock || Preferences::followClockWanted());
}

void MainWindow::applyJackTransport() {
    // Without a server the transport is looked for again until one runs.
    time_->setTransportWanted(setup_.jackTransport);
}

void MainWindow::createTimeKeeper() {
    time_ = std::make_unique<TimeKeeper>(player_, setup_, clock_);
    time_->setTransportClientName(ClientNames::jackClientName(" transport"));
    TimeKeeper::Listener listener;
    listener.tempoChanged = [this](double bpm) { panel_->TempoDial().SetTempo(bpm); };
    listener.started = [this] { panel_->PlayButton().SetState(1); };
    listener.stateChanged = [this] { showStatus(player_.statusText()); };
    time_->setListener(std::move(listener));
    controller_.SetTempoListener([this](double bpm) { time_->setTempo(bpm); });
    port_->setTimelineListener([this](StepTimeline* timeline) {
        if (time_ != nullptr) {
            time_->setFrameTimeline(timeline);
        }
    });
    controller_.SetPlayListener([this] {
        if (time_->clockFollowed()) {
            // The clock starts and stops: the button shows what plays, not the click.
            panel_->PlayButton().SetState(player_.isRunning() ? 1 : 0);
        }
        time_->toggle(false);
    });
}

void MainWindow::createMidiInput() {
    if (options_.noMidiInput) {
        return;
    }
    createMidiInputNamed(options_.midiInput.empty() ? Preferences::midiInputSource()
                                                    : options_.midiInput);
}

void MainWindow::createMidiInputNamed(const std::string& source) {
    if (inputRouter_ == nullptr) {
        inputRouter_ = std::make_unique<MidiInputRouter>(&time_->clockInput());
        if (inputRouter_->eventFd() >= 0) {
            inputMessages_ =
                std::make_unique<QSocketNotifier>(inputRouter_->eventFd(), QSocketNotifier::Read);
            connect(inputMessages_.get(), &QSocketNotifier::activated, this,
                    [this] { takeInputMessages(); });
        }
    }
    input_ = std::make_unique<MidiInput>();
    input_->setSink(inputRouter_.get());
    input_->open();
    input_->setSource(source);
    inputNamedAs_ = ClientNames::jackClientName();
}

void MainWindow::createInputPlaying() {
    transposer_ = std::make_unique<InputTransposer>(controller_, setup_, panel_->TransposeDial());
    transposer_->setEnabled(Preferences::transposeFromInputWanted());
    stepRecorder_ = std::make_unique<StepRecorder>(controller_, *panel_, player_);
}

void MainWindow::renameMidiInput() {
    if (input_ == nullptr || inputNamedAs_ == ClientNames::jackClientName()) {
        return;
    }
    const std::string source = input_->source();
    input_.reset();
    createMidiInputNamed(source);
}

void MainWindow::chooseMidiInput(const std::string& name) {
    if (input_ == nullptr) {
        return;
    }
    input_->setSource(name);
    Preferences::saveMidiInputSource(name);
}

void MainWindow::takeInputMessages() {
    inputRouter_->acknowledgeWakeUp();
    ChannelMessage message;
    while (inputRouter_->takeMessage(message)) {
        onChannelMessage(message);
    }
}

void MainWindow::onChannelMessage(const ChannelMessage& message) {
    if (remote_ != nullptr && remote_->handle(message)) {
        return;
    }
    transposer_->onMessage(message);
    stepRecorder_->onMessage(message);
}

void MainWindow::createPort() {
    if (!bus_.start(
            options_.busDirectory.empty() ? InstanceBus::defaultDirectory() : options_.busDirectory,
            ::getpid())) {
        std::fprintf(stderr, "glimmerstave: %s\n", bus_.errorText().c_str());
    }
    OutputPort::Drivers drivers =
        options_.drivers ? std::move(*options_.drivers) : makeSystemDrivers();
    options_.drivers.reset();
    // The engine opens "MIDI Mapper" before the setup names its port: held until it does.
    synth_ = dynamic_cast<FluidSynthDriver*>(drivers.mapper.get());
    if (synth_ != nullptr) {
        synth_->setOpensHeld(true);
    }
    port_ = std::make_unique<OutputPort>(setup_, std::move(drivers));
    port_->setBroadcast([this](int message, std::intptr_t wParam, std::intptr_t lParam) {
        return broadcastToInstances(message, wParam, lParam);
    });
    port_->setShowNote([](const std::string& text) { NoteBox::show(text); });
    port_->setPost([this](std::function<void()> call) {
        QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
    });
    if (bus_.isRunning()) {
        port_->enableLending(bus_.directory(), ::getpid());
    }
    portSearch_ = std::make_unique<MissingPortSearch>(setup_, *port_);
    portSearch_->start();
    if (!options_.midiLogPath.empty()) {
        std::string error;
        midiLog_ = MidiLog::open(options_.midiLogPath, &error);
        if (!midiLog_) {
            std::fprintf(stderr, "glimmerstave: %s\n", error.c_str());
        }
        port_->setMidiLog(midiLog_.get());
    }
}

void MainWindow::applyStartColour() {
    // A different colour each run until a setup brings its own; the first draw is blue.
    const int r1 = Random::below(256);
    const int r2 = Random::below(256);
    const int r3 = Random::below(256);
    baseColor_ = static_cast<ColorRef>((r1 << 16) | (r2 << 8) | r3);
    panel_->ApplyBaseColor(baseColor_);
    backgroundColor_ = panel_->Palette().contrast;
    textColor_ = panel_->Palette().base;
}

void MainWindow::openStartSetup() {
    if (!options_.setupPath.empty()) {
        openFile(options_.setupPath);
        // Read or not, the dials show what the setup holds (a failed read leaves it new).
        showSetupOnDials();
        return;
    }
    controller_.NewSetup();
    controller_.SetVolume(80);
    controller_.SetTranspose(0);
    // A file brings its own window position; a new setup keeps clear of the running copies.
    placeClearOfOtherCopies(bus_.isRunning() ? bus_.broadcast(Messages::UM_COUNT_ONLY, 0, 0) - 1
                                             : 0);
}

void MainWindow::placeClearOfOtherCopies(int others) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        placeWindowAt(PlaceClearOfOtherCopies(screen->availableGeometry(), size(), others,
                                              CCaptionPainter::kCaptionHeight));
    }
}

void MainWindow::placeWindowAt(QPoint at) {
    placedAt_ = at;
    // The top-level window: with the painted caption this one sits inside its frame.
    window()->move(at);
}

QPoint MainWindow::windowPosition() const {
    // Where the window system keeps the position to itself, the place the window was last
    // given (the setup's own, or the start's) is kept rather than a meaningless 0,0.
    return WindowSystem::ReportsWindowPositions() ? window()->pos() : placedAt_;
}

void MainWindow::showSetupOnDials() {
    controller_.SetBpm(setup_.bpm);
    controller_.SetVolume(setup_.volume);
    controller_.SetTranspose(setup_.transpose);
}

void MainWindow::setTitle(const std::string& text) {
    captionPainter_.SetTitle(QString::fromStdString(text));
    setWindowTitle(QString::fromStdString(text));
}

void MainWindow::focusDefaultButton() {
    if (panel_ && panel_->IsReady()) {
        // The selection goes; the caret stays, so a long chord still shows its start.
        if (MDialEdit* field = panel_->Column(0).GetNoteDial().GetField()) {
            field->deselect();
        }
    }
    if (defaultButton_ != nullptr) {
        defaultButton_->setFocus(Qt::OtherFocusReason);
    }
}

void MainWindow::changeColor() {
    MShadePalette chooser = panel_->Palette();
    const ColorRef chosen = chooser.ChooseBaseColor(this);
    if (chosen == backgroundColor_ || chosen == baseColor_) {
        return;
    }
    baseColor_ = chosen;
    panel_->ApplyBaseColor(chosen);
    backgroundColor_ = panel_->Column(0).GetBackColor();
    textColor_ = panel_->Column(0).GetTextColor();
    update();
    panel_->LayoutColumns();
    setup_.dirty = true;
    setTitle(setup_.title);
}

void MainWindow::applyClientHeight(int height) {
    clientHeight_ = height;
    setMinimumWidth(kClientWidthMin);
    setMaximumWidth(kClientWidthMax);
    setFixedHeight(height);
}

void MainWindow::toggleDiagnosticView() {
    const bool wasDirty = setup_.dirty;
    applyClientHeight(isDiagnosticView() ? kNormalHeight : kDiagnosticHeight);
    if (isDiagnosticView()) {
        // The clock calibrates beside the window after the start; its figure is final now.
        setup_.cpuCyclesPerMs = clock_.cyclesPerMs();
        panel_->ShowStatus(TextFormat::formatInt(setup_.cpuCyclesPerMs));
    }
    setup_.dirty = wasDirty;
}

void MainWindow::setDefaultCursor() {
    if (std::optional<QCursor> cursor = Resources::LoadCursor("NOCUR")) {
        setCursor(*cursor);
    }
}

// ---- Engine and instance messages ----------------------------------------------------------

void MainWindow::postMessage(int message, std::intptr_t wParam, std::intptr_t lParam) {
    queue_.post(message, wParam, lParam);
}

int MainWindow::broadcastToInstances(int message, std::intptr_t wParam, std::intptr_t lParam) {
    if (message == Messages::UM_REOPEN_PORT) {
        // Marked as this copy's, which just opened its port: reopening it on hearing its own
        // request would drop what it plays meanwhile (a --play start, its first MIDI clock).
        lParam = ::getpid();
    }
    if (!bus_.isRunning()) {
        // Without a bus this instance still hears its own broadcasts, in order, through the
        // window thread's own event queue: the engine's ring takes one producer, the clock
        // thread.
        QMetaObject::invokeMethod(
            this, [this, message, wParam, lParam] { onInstanceMessage(message, wParam, lParam); },
            Qt::QueuedConnection);
        return 1;
    }
    return bus_.broadcast(message, wParam, lParam);
}

void MainWindow::setStepColumnLit(int column, bool lit) {
    if (panel_ && column >= 0 && column < kColumnCount) {
        panel_->Column(column).SetHighlight(lit);
    }
}

void MainWindow::markPlayingMeasure(int index) {
    if (panel_) {
        panel_->LoopGroup().Highlight(index);
    }
}

void MainWindow::showPlayReleased() {
    if (panel_) {
        panel_->PlayButton().SetState(0);
    }
}

void MainWindow::showStatus(const std::string& text) {
    if (panel_) {
        // With Link on, the diagnostic line also tells how many peers share the session.
        std::string shown = text;
        if (time_ != nullptr && time_->linkEnabled()) {
            shown += "  " + time_->linkStatusText();
        }
        // Following MIDI clock, the line says what the clock does, and why Space does not.
        if (const std::string clock = time_ != nullptr ? time_->clockStatusText() : "";
            !clock.empty()) {
            shown += "  " + clock;
        }
        panel_->ShowStatus(shown);
    }
}

void MainWindow::onInstanceMessage(int message, qintptr wParam, qintptr lParam) {
    if (message == Messages::UM_REOPEN_PORT && lParam == ::getpid()) {
        return;
    }
    // A followed clock starts and stops this copy; other copies do not.
    if ((message == Messages::UM_START || message == Messages::UM_STOP) && time_ != nullptr &&
        time_->clockFollowed()) {
        return;
    }
    player_.handleMessage(message, wParam, lParam);
}

// ---- Commands ------------------------------------------------------------------------------

void MainWindow::wireMenus() {
    MenuBar& menu = panel_->Menu();
    MenuBar::Services services;
    services.refreshPorts = [this] { port_->refreshPortTable(); };
    services.releasePort = [this] { releasePortSilenced(); };
    services.selectPortByName = [this](const std::string& name) { port_->selectPortByName(name); };
    services.chooseProgram = [this](int column, int program) {
        controller_.ChooseProgram(column, program);
    };
    services.clipboardKind = [this] { return clipboard_.ClipboardKind(); };
    services.sessionOwnsFile = [this] { return options_.sessionManaged; };
    services.linkEnabled = [this] { return time_ && time_->linkEnabled(); };
    services.linkText = [this] { return time_ ? time_->linkMenuText() : std::string(); };
    services.linkToolTip = [this] { return time_ ? time_->linkStatusText() : std::string(); };
    // Asked afresh each time the menu opens: a server may have gone or come back since.
    services.jackServerRunning = [] { return JackMidiDriver::serverRunning(); };
    services.inputSources = [] { return MidiInput::listSources(); };
    services.inputSource = [this] { return input_ ? input_->source() : std::string(); };
    services.chooseInput = [this](const std::string& name) { chooseMidiInput(name); };
    services.clockFollowed = [this] { return time_ && time_->clockFollowed(); };
    services.transposingFromInput = [this] { return transposer_ && transposer_->isEnabled(); };
    services.stepRecording = [this] { return stepRecorder_ && stepRecorder_->isEnabled(); };
    services.midiLearning = [this] { return remote_ != nullptr && remote_->learning(); };
    menu.setServices(std::move(services));
    controller_.setMenuOpener([&menu](int buttonId) { menu.openMenuForButton(buttonId); });
    controller_.setProgramMenuOpener([&menu](int column) { menu.openProgramMenu(column); });
    clipboard_.Attach(setup_, controller_, player_.engineLock());
    clipboard_.setShowNote([](const std::string& text) { NoteBox::show(text); });
    setAcceptDrops(true);
}

void MainWindow::showAbout() {
    if (!panel_) {
        return;
    }
    // Made for each use; it deletes itself when closed and never blocks the window thread.
    auto* about = new AboutDialog(panel_->Palette(), this);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->open();
}

void MainWindow::onCommand(int commandId) {
    using namespace CommandIds;
    switch (commandId) {
        case ID_EXIT:
            close();
            return;
        case ID_CHANGE_COLOR:
            changeColor();
            return;
        case ID_USE_HIGH_RES_TIMER:
            preferences_.toggleHighResTimer();
            return;
        case ID_ABLETON_LINK:
            time_->setLinkEnabled(!time_->linkEnabled());
            Preferences::saveLink(time_->linkEnabled());
            return;
        case ID_SEND_MIDI_CLOCK:
            preferences_.toggleMidiClock();
            return;
        case ID_JACK_TRANSPORT:
            preferences_.toggleJackTransport();
            applyJackTransport();
            return;
        case ID_FOLLOW_MIDI_CLOCK:
            time_->setClockFollowed(!time_->clockFollowed());
            Preferences::saveFollowClock(time_->clockFollowed());
            return;
        case ID_ABOUT:
            showAbout();
            return;
        case ID_TRANSPOSE_FROM_INPUT:
            transposer_->setEnabled(!transposer_->isEnabled());
            Preferences::saveTransposeFromInput(transposer_->isEnabled());
            return;
        case ID_STEP_RECORD:
            stepRecorder_->setEnabled(!stepRecorder_->isEnabled());
            return;
        case ID_MIDI_LEARN:
            remote_->setLearning(!remote_->learning());
            return;
        case ID_CLEAR_MIDI_LEARN:
            remote_->clear();
            return;
        case ID_OPEN_SETUP:
            if (!options_.sessionManaged) {
                documents_->OpenSetup();
            }
            return;
        case ID_SAVE_SETUP:
            if (options_.sessionManaged && setup_.path.empty()) {
                // The session names the file: there is none to save to until it opens one.
                NoteBox::show(kNotSavedBeforeSessionText);
                return;
            }
            documents_->SaveSetup();
            return;
        case ID_SAVE_SETUP_AS:
            if (!options_.sessionManaged) {
                documents_->SaveSetupAs();
            }
            return;
        case ID_EXPORT_MIDI:
            exports_->chooseAndExport(ExportController::Kind::Midi);
            return;
        case ID_EXPORT_AUDIO:
            exports_->chooseAndExport(ExportController::Kind::Audio);
            return;
        case ID_COPY_MEASURE:
            clipboard_.CopyMeasure();
            return;
        case ID_PASTE_MEASURE:
            clipboard_.PasteMeasure(false);
            return;
        case ID_PASTE_VISIBLE:
            clipboard_.PasteMeasure(true);
            return;
        default:
            controller_.OnCommand(commandId);
            return;
    }
}

// ---- Controls ------------------------------------------------------------------------------

void MainWindow::OnControlEvent(int event, int x, int y, int controlId) {
    if (event == EV_EDIT_RCLICK) {
        controller_.OnSecondaryAction(controlId);
    } else if (event == EV_RPRESS) {
        if (const int taken = DispatchMouse(event, x, y, this); taken != 0) {
            controller_.OnSecondaryAction(taken);
        }
        return;
    }
    if (UpdateCursor(event, x, y, this) == 0) {
        setDefaultCursor();
    }
    if (controlId == 0) {
        controlId = DispatchMouse(event, x, y, this);
        if (controlId == 0) {
            return;
        }
    }
    if (event == EV_PRESS || event == EV_EDIT_CHANGED) {
        controller_.OnPressAction(controlId);
    }
    if (event == EV_RELEASE || event == EV_MOVE || event == EV_EDIT_CHANGED) {
        controller_.OnValueChanged(controlId);
    }
}

void MainWindow::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), ToQColor(backgroundColor_));
    Canvas dc(painter, event->region());
    PaintControls(dc, this);
    paintLearningOutline(painter);
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        focusDefaultButton();
        OnControlEvent(EV_PRESS, at.x(), at.y(), 0);
    } else if (event->button() == Qt::RightButton) {
        OnControlEvent(EV_RPRESS, at.x(), at.y(), 0);
    }
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const QPoint at = event->position().toPoint();
        OnControlEvent(EV_RELEASE, at.x(), at.y(), 0);
    }
}

void MainWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const QPoint at = event->position().toPoint();
        OnControlEvent(EV_PRESS, at.x(), at.y(), 0);
    }
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    OnControlEvent(EV_MOVE, at.x(), at.y(), 0);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // Only the width is the user's: the height changes with the diagnostic view alone, which
    // leaves the setup's dirty flag as it was (the platform may deliver this event late).
    // The first layout when the window appears is no change of the user's.
    if (initDone_ && !isMinimized() && event->oldSize().isValid() &&
        event->size().width() != event->oldSize().width()) {
        panel_->LayoutColumns();
        setup_.dirty = true;
    }
}

// ---- Keys before dispatch ------------------------------------------------------------------

bool MainWindow::belongsToThisWindow(QObject* object) const {
    auto* widget = qobject_cast<QWidget*>(object);
    // window(): with the painted caption this window sits inside its caption frame.
    if (widget == nullptr || widget->window() != window()) {
        return false;
    }
    // The loop panel lies inside this window but its clicks and keys are its own.
    const LoopPopup* popup = panel_ ? &panel_->Popup() : nullptr;
    return popup == nullptr || (widget != popup && !popup->isAncestorOf(widget));
}

void MainWindow::hideLoopPopupOnInput(QObject* watched, QEvent* event) {
    if (!panel_ || !panel_->Popup().isVisible() || !belongsToThisWindow(watched)) {
        return;
    }
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::KeyPress:
            panel_->Popup().closePanel();
            return;
        default:
            return;
    }
}

bool MainWindow::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip && panel_ && panel_->IsReady()) {
        ShowControlToolTip(static_cast<QHelpEvent*>(event), this, [this](int id) {
            const std::string tip = ControlTips::ForMainWindow(*panel_, setup_, id);
            const std::string binding = remote_ != nullptr ? remote_->tipFor(id) : "";
            return binding.empty() ? tip : tip + " (" + binding + ")";
        });
        return true;
    }
    return QWidget::event(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    hideLoopPopupOnInput(watched, event);
    if (takeLearningClick(watched, event)) {
        return true;
    }
    if ((event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) &&
        belongsToThisWindow(watched)) {
        if (handleKeyBeforeDispatch(watched, static_cast<QKeyEvent*>(event))) {
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool MainWindow::handleKeyBeforeDispatch(QObject* watched, QKeyEvent* event) {
    const int key = event->key();
    // Alt alone never does anything (no menu to activate).
    if (key == Qt::Key_Alt) {
        return true;
    }
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (key == Qt::Key_Escape && remote_ != nullptr && remote_->learning()) {
        remote_->setLearning(false);
        return true;
    }
    // Alt+Space is the window system's.
    if (key == Qt::Key_Space && (modifiers & Qt::AltModifier) == 0) {
        // A held space bar would start and stop on every repeat: only the first press counts.
        if (!event->isAutoRepeat()) {
            if (modifiers & Qt::ControlModifier) {
                togglePlayThisCopyOnly();
            } else {
                togglePlay();
            }
        }
        return true;
    }
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && qobject_cast<MEdit*>(watched)) {
        applyFieldOnEnter();
        return true;
    }
    if (key >= Qt::Key_1 && key <= Qt::Key_8 && player_.isRunning() && watched == defaultButton_) {
        player_.jumpToMeasure(key - Qt::Key_1);
        return true;
    }
    if (key == Qt::Key_F2) {
        if ((modifiers & Qt::ShiftModifier) && (modifiers & Qt::ControlModifier)) {
            toggleDiagnosticView();
        }
        return true;
    }
    if (AccessKeys(*panel_, *this).handle(watched, *event)) {
        return true;
    }
    if (const int command = Accelerators::commandFor(key, modifiers); command != 0) {
        panel_->Menu().OnCommand(command);
        return true;
    }
    return false;
}

void MainWindow::togglePlay() {
    if (!time_->clockFollowed()) {
        panel_->PlayButton().SetState(player_.isRunning() ? 0 : 1);
    }
    time_->toggle(false);
}

void MainWindow::togglePlayThisCopyOnly() {
    if (!time_->clockFollowed()) {
        panel_->PlayButton().SetState(player_.isRunning() ? 0 : 1);
    }
    time_->toggle(true);
}

void MainWindow::applyFieldOnEnter() {
    // Leaving the field applies its text (the focus loss does it, with the same events and
    // the same tidying of the text); the default button then has the keys 1..8.
    focusDefaultButton();
}

// ---- MIDI learn ----------------------------------------------------------------------------

void MainWindow::createRemoteControl() {
    RemoteControl::Actions actions;
    actions.togglePlay = [this] { togglePlay(); };
    actions.togglePlayAlone = [this] { togglePlayThisCopyOnly(); };
    actions.repaint = [this] { update(); };
    remote_ =
        std::make_unique<RemoteControl>(*panel_, controller_, setup_, player_, std::move(actions));
    remote_->load();
}

bool MainWindow::takeLearningClick(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    // Taken at the widget, never at its window: Qt keeps its own record of the buttons there.
    if (type == QEvent::MouseButtonRelease && learningClickHeld_ && belongsToThisWindow(watched)) {
        learningClickHeld_ = false;
        return true;
    }
    if ((type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick) ||
        remote_ == nullptr || !remote_->learning() || !belongsToThisWindow(watched)) {
        return false;
    }
    // Edit fields are widgets of their own: the point is found in this window's terms.
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const QPoint at = mapFromGlobal(mouse->globalPosition().toPoint());
    const MWnd* control = rect().contains(at) ? ControlAt(at.x(), at.y(), this) : nullptr;
    if (!remote_->choose(control != nullptr ? control->GetId() : 0,
                         (mouse->modifiers() & Qt::ControlModifier) != 0)) {
        return false;
    }
    learningClickHeld_ = true;
    return true;
}

void MainWindow::paintLearningOutline(QPainter& painter) {
    const MRect area = remote_ != nullptr ? remote_->chosenArea(this) : MRect{};
    if (area.IsEmpty()) {
        return;
    }
    // Drawn over the controls: their painting has clipped every control's area away.
    painter.setClipping(false);
    painter.setPen(QPen(ToQColor(panel_->Palette().lighter), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(area.left - 2, area.top - 2, area.Width() + 3, area.Height() + 3));
}

// ---- Closing -------------------------------------------------------------------------------

bool MainWindow::closeGuardRefuses() {
    if (!player_.isRunning() || setup_.portOpenedHere == 0) {
        return false;
    }
    if (broadcastToInstances(Messages::UM_COUNT_ONLY, 0, 0) <= 1) {
        return false;
    }
    NoteBox::show(kMasterWarning);
    return true;
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (options_.sessionManaged) {
        // The session manager ends the program; closing the window only hides it (with the
        // painted caption, the frame around it).
        window()->hide();
        event->ignore();
        return;
    }
    if (closeGuardRefuses()) {
        event->ignore();
        return;
    }
    if (setup_.dirty && !confirmDiscard()) {
        event->ignore();
        return;
    }
    shutDownOutput();
    event->accept();
}

void MainWindow::closeWithoutQuestion() {
    shutDownOutput();
    hide();
    QCoreApplication::quit();
}

void MainWindow::shutDownOutput() {
    if (outputShutDown_ || !port_) {
        return;
    }
    outputShutDown_ = true;
    portSearch_.reset();  // a port that turns up now is not opened any more
    input_.reset();       // nothing heard from now on starts or times a step
    // This copy leaves: it stops alone (Stop and All Notes Off on its port); Link and the
    // transport go on for the others.
    if (time_ != nullptr) {
        time_->leave();
    }
    clock_.stopTimer();
    releasePortSilenced();
}

void MainWindow::releasePortSilenced() {
    if (!player_.isRunning()) {
        port_->releasePort();
        return;
    }
    // Under the engine lock no step comes between the All Notes Off and the muting; the
    // release then waits for the driver to deliver both (a few periods at most) without the
    // lock, which the clock thread must never wait for long.
    {
        std::lock_guard guard(player_.engineLock());
        player_.silencePortLocked();
        port_->muteSends();
    }
    port_->releasePort();
}

// ---- Documents -----------------------------------------------------------------------------

void MainWindow::letSynthesizerOpen() {
    if (synth_ != nullptr) {
        synth_->setOpensHeld(false);
    }
}

void MainWindow::leaveSession() {
    if (!options_.sessionManaged) {
        return;
    }
    options_.sessionManaged = false;
    if (setup_.path.empty()) {
        openStartSetup();
    }
    letSynthesizerOpen();
    window()->show();
}

void MainWindow::rejoinSession() {
    options_.sessionManaged = true;
}

bool MainWindow::confirmDiscard() {
    // Under a session manager nothing may block: it saves first when it wants to.
    return options_.sessionManaged || documents_->ConfirmDiscard();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    // Under a session manager the session owns the setup's file: nothing else is opened.
    if (event->mimeData()->hasUrls() && !options_.sessionManaged) {
        event->acceptProposedAction();
    }
}

void MainWindow::dropEvent(QDropEvent* event) {
    // The first file of a drop is opened; the others are ignored.
    if (options_.sessionManaged) {
        return;
    }
    const QList<QUrl> urls = event->mimeData()->urls();
    const auto first =
        std::find_if(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); });
    if (first == urls.end()) {
        return;
    }
    event->acceptProposedAction();
    // Opened once the drop is over: the save question must not hold up the program the file
    // came from.
    const std::string path = first->toLocalFile().toStdString();
    QTimer::singleShot(0, this, [this, path] { openFile(path); });
}

void MainWindow::openFile(const std::string& path) {
    if (!confirmDiscard()) {
        return;
    }
    const PathRules::OpenTarget target = PathRules::ResolveOpenTarget(path);
    switch (target.action) {
        case PathRules::OpenTarget::Action::Open:
            readSetup(target.path);
            return;
        case PathRules::OpenTarget::Action::ShowMessage:
            NoteBox::show(target.message);
            return;
        case PathRules::OpenTarget::Action::Ignore:
            return;
    }
}

bool MainWindow::readSetup(const std::string& path) {
    SetupRecord record;
    try {
        record = SetupFile::read(path);
    } catch (const SetupFileError& error) {
        NoteBox::show(error.what());
        return false;
    }
    SetupFile::commitRead(record, path, setup_, &player_.engineLock());
    applyReadSetup(record);
    return true;
}

void MainWindow::applyReadSetup(const SetupRecord& record) {
    port_->releasePort();
    if (record.portName) {
        port_->selectPortByName(setup_.port.portName);
    } else {
        port_->openPort();
    }
    panel_->TempoDial().SetMode(setup_.tempoEditMode);
    controller_.SetBpm(setup_.bpm);
    controller_.SetVolume(setup_.volume);
    controller_.SetTranspose(setup_.transpose);
    panel_->MuteButton().SetState(setup_.mute == 0 ? 1 : 0);
    // The window stays mapped while the setup is applied: on Wayland hiding it destroys its
    // surface, and the new one appears wherever the compositor likes.
    panel_->FitWindowToColumns(setup_.stepsPerMeasure);
    controller_.SelectMeasure(setup_.selectedMeasure);
    placeWindowAt(QPoint(record.windowLeft, record.windowTop));
    baseColor_ = static_cast<ColorRef>(record.baseColor);
    panel_->ApplyBaseColor(baseColor_);
    backgroundColor_ = panel_->Palette().contrast;
    textColor_ = panel_->Palette().base;
    setup_.title = SetupFile::captionFor(setup_.path);
    setTitle(setup_.title);
    panel_->LayoutColumns();
    setup_.dirty = false;
    focusDefaultButton();
}

// ---- Caption -------------------------------------------------------------------------------

void MainWindow::installCaptionPainter() {
    // Painted where the window system lets the program draw its own decoration, unless the
    // user switched it off; otherwise the desktop's own title bar.
    captionPainting_ = Preferences::customCaptionWanted() && CCaptionPainter::IsSupported();
    if (!captionPainting_) {
        return;
    }
    captionPainter_.SetPalette(&panel_->Palette());
    captionPainter_.SetTitle(QString::fromStdString(setup_.title));
    // Delivered straight to this window, never through the instance bus: the message carries
    // an address that only means something inside this process.
    captionPainter_.InstallOn(this, kCaptionPaintMessage,
                              [this](int message, std::intptr_t wParam, std::intptr_t lParam) {
                                  onCaptionMessage(message, wParam, lParam);
                              });
    captionPainter_.Frame()->SetAboutHandler([this] { showAbout(); });
}

void MainWindow::onCaptionMessage(int message, qintptr wParam, qintptr lParam) {
    if (message == kCaptionPaintMessage) {
        captionPainter_.RenderCaption(wParam != 0, reinterpret_cast<CaptionPaintInfo*>(lParam));
    }
}
