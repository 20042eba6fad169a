#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What a MIDI binding acts on: the play button (with the other copies, or this copy alone), the
// eight loop selectors, the mute button and the three dials of the main window.
enum class RemoteTarget {
    None,
    Play,
    PlayAlone,
    Mute,
    Tempo,
    Volume,
    Transpose,
    Loop1,
    Loop8 = Loop1 + 7,
};

// A Note On or a Control Change of one number on one channel, as a binding names it.
struct MidiTrigger {
    enum class Kind { Note, Controller };
    Kind kind = Kind::Note;
    int channel = 1;  // 1..16
    int number = 0;   // 0..127

    bool operator==(const MidiTrigger&) const = default;
};

// The MIDI learn bindings and their text, one readable line each ("note 1 36 = play",
// "cc 1 7 = volume"), as the preferences keep them. A message drives one control and a control
// answers to one message: binding either again replaces the older binding. Owned by the remote
// control; window thread only.
class MidiBindings {
public:
    struct Binding {
        MidiTrigger trigger;
        RemoteTarget target = RemoteTarget::None;
    };

    // "play", "play alone", "mute", "tempo", "volume", "transpose", "loop 1".."loop 8".
    static std::string targetName(RemoteTarget target);
    static std::optional<RemoteTarget> targetNamed(std::string_view name);
    // "note 1 36", "cc 1 7".
    static std::string triggerText(const MidiTrigger& trigger);
    static std::string formatLine(const Binding& binding);
    // Nothing for a line that names no message or no target, or numbers out of range.
    static std::optional<Binding> parseLine(std::string_view line);

    // Replaces every binding with the lines that can be read; returns those that cannot.
    std::vector<std::string> readLines(const std::vector<std::string>& lines);
    std::vector<std::string> lines() const;

    void bind(const Binding& binding);
    void clear() { bindings_.clear(); }
    bool empty() const { return bindings_.empty(); }
    RemoteTarget targetOf(const MidiTrigger& trigger) const;
    std::optional<MidiTrigger> triggerOf(RemoteTarget target) const;

private:
    std::vector<Binding> bindings_;
};
