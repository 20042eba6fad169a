#pragma once

#include <QString>

#include <string>
#include <vector>

class Player;
class Setup;
class StepClock;

// The one preference kept outside the setup files: whether the step clock runs on the
// processor's time-stamp counter ("Use High-Res Timer"). Stored per user in an INI file under
// $XDG_CONFIG_HOME, read once at start-up and written on every toggle. Owned by the main
// window; window thread only. The Setup's highResTimer and the clock's useTsc always agree.
class Preferences {
public:
    static constexpr const char* kGroup = "Frostquillion/data/8";
    static constexpr const char* kHighResTimerKey = "highResTimer";
    static constexpr const char* kOn = "on";
    static constexpr const char* kOff = "off";
    // Whether the program paints the main window's caption itself where the platform allows
    // it (the caption painter); same store and texts as highResTimer.
    static constexpr const char* kCustomCaptionKey = "customCaption";
    // Whether the program plays in an Ableton Link session; same store, off unless exactly "on".
    static constexpr const char* kLinkKey = "link";
    // Send MIDI clock; follow and drive the JACK transport. Same store and texts, but on only
    // for exactly "on": both are off until asked for.
    static constexpr const char* kMidiClockKey = "midiClock";
    static constexpr const char* kJackTransportKey = "jackTransport";
    // Follow the MIDI clock at the input: same store and texts, off until asked for.
    static constexpr const char* kFollowClockKey = "followClock";
    // The MIDI input's source, by the name the input menu shows; none when missing or empty.
    static constexpr const char* kMidiInputKey = "midiInput";
    // Notes at the input set the transpose: same store and texts, off until asked for.
    static constexpr const char* kTransposeFromInputKey = "transposeFromInput";
    // The MIDI learn bindings, one readable line each ("note 1 36 = play").
    static constexpr const char* kMidiBindingsKey = "midiBindings";

    Preferences(Setup& setup, StepClock& clock, Player& player);

    // $XDG_CONFIG_HOME/Glimmerstave/Glimmerstave.ini (~/.config when the variable is unset or
    // not an absolute path).
    static QString filePath();

    // Reads the stored text: the option is off only for exactly "off"; a missing file, group or
    // value, any other text and a failed read all mean on. Then sets the clock's time base.
    void loadPreferences();
    // The caption preference, read afresh: off only for exactly "off", on otherwise (also
    // when nothing is stored).
    static bool customCaptionWanted();
    // The Link preference, read afresh, and its writer (a failed write is silent).
    static bool linkWanted();
    static void saveLink(bool on);
    // The MIDI clock and input preferences, read afresh, and their writers (a failed write is
    // silent).
    static bool followClockWanted();
    static void saveFollowClock(bool on);
    static std::string midiInputSource();
    static void saveMidiInputSource(const std::string& name);
    static bool transposeFromInputWanted();
    static void saveTransposeFromInput(bool on);
    // The MIDI learn binding lines as stored, and their writer (none: the key goes).
    static std::vector<std::string> midiBindingLines();
    static void saveMidiBindingLines(const std::vector<std::string>& lines);
    // Writes "on" or "off". A failed write is silent and leaves the stored value as it was.
    void savePreferences() const;
    // The "Use High-Res Timer" command: stops playback if it is running, inverts the option,
    // switches the clock's time base and saves. The setup's dirty flag is left alone.
    void toggleHighResTimer();
    // "Send MIDI Clock": inverts the option, hands it to the player and saves.
    void toggleMidiClock();
    // "JACK Transport": inverts the option and saves; the window applies it.
    void toggleJackTransport();

private:
    Setup& setup_;
    StepClock& clock_;
    Player& player_;
};
