#include "app/MidiBindings.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace {

constexpr int kLoopCount = 8;

struct NamedTarget {
    RemoteTarget target;
    const char* name;
};

constexpr std::array<NamedTarget, 6> kNamedTargets = {{
    {RemoteTarget::Play, "play"},
    {RemoteTarget::PlayAlone, "play alone"},
    {RemoteTarget::Mute, "mute"},
    {RemoteTarget::Tempo, "tempo"},
    {RemoteTarget::Volume, "volume"},
    {RemoteTarget::Transpose, "transpose"},
}};

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// The next word of text, which loses it and the blanks after it.
std::string_view nextWord(std::string_view& text) {
    text = trimmed(text);
    std::size_t end = 0;
    while (end < text.size() && !isSpace(text[end])) {
        ++end;
    }
    const std::string_view word = text.substr(0, end);
    text.remove_prefix(end);
    return word;
}

std::optional<int> numberIn(std::string_view word, int low, int high) {
    int value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size() || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

// Words separated by any run of blanks, joined by one space: "play   alone" names "play alone".
std::string normalised(std::string_view text) {
    std::string result;
    for (std::string_view word = nextWord(text); !word.empty(); word = nextWord(text)) {
        if (!result.empty()) {
            result += ' ';
        }
        result += word;
    }
    return result;
}

}  // namespace

std::string MidiBindings::targetName(RemoteTarget target) {
    for (const NamedTarget& named : kNamedTargets) {
        if (named.target == target) {
            return named.name;
        }
    }
    const int loop = static_cast<int>(target) - static_cast<int>(RemoteTarget::Loop1);
    if (loop >= 0 && loop < kLoopCount) {
        return "loop " + std::to_string(loop + 1);
    }
    return {};
}

std::optional<RemoteTarget> MidiBindings::targetNamed(std::string_view name) {
    const std::string words = normalised(name);
    for (const NamedTarget& named : kNamedTargets) {
        if (words == named.name) {
            return named.target;
        }
    }
    std::string_view rest = words;
    if (nextWord(rest) != "loop") {
        return std::nullopt;
    }
    const std::optional<int> loop = numberIn(trimmed(rest), 1, kLoopCount);
    if (!loop) {
        return std::nullopt;
    }
    return static_cast<RemoteTarget>(static_cast<int>(RemoteTarget::Loop1) + *loop - 1);
}

std::string MidiBindings::triggerText(const MidiTrigger& trigger) {
    return std::string(trigger.kind == MidiTrigger::Kind::Note ? "note " : "cc ") +
           std::to_string(trigger.channel) + ' ' + std::to_string(trigger.number);
}

std::string MidiBindings::formatLine(const Binding& binding) {
    return triggerText(binding.trigger) + " = " + targetName(binding.target);
}

std::optional<MidiBindings::Binding> MidiBindings::parseLine(std::string_view line) {
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view message = line.substr(0, equals);
    const std::string_view kind = nextWord(message);
    const std::optional<int> channel = numberIn(nextWord(message), 1, 16);
    const std::optional<int> number = numberIn(nextWord(message), 0, 127);
    const std::optional<RemoteTarget> target = targetNamed(line.substr(equals + 1));
    if ((kind != "note" && kind != "cc") || !channel || !number || !trimmed(message).empty() ||
        !target) {
        return std::nullopt;
    }
    const MidiTrigger::Kind triggerKind =
        kind == "note" ? MidiTrigger::Kind::Note : MidiTrigger::Kind::Controller;
    return Binding{MidiTrigger{triggerKind, *channel, *number}, *target};
}

std::vector<std::string> MidiBindings::readLines(const std::vector<std::string>& lines) {
    bindings_.clear();
    std::vector<std::string> unread;
    for (const std::string& line : lines) {
        if (trimmed(line).empty()) {
            continue;
        }
        if (const std::optional<Binding> binding = parseLine(line)) {
            bind(*binding);
        } else {
            unread.push_back(line);
        }
    }
    return unread;
}

std::vector<std::string> MidiBindings::lines() const {
    std::vector<std::string> result;
    result.reserve(bindings_.size());
    for (const Binding& binding : bindings_) {
        result.push_back(formatLine(binding));
    }
    return result;
}

void MidiBindings::bind(const Binding& binding) {
    std::erase_if(bindings_, [&binding](const Binding& old) {
        return old.trigger == binding.trigger || old.target == binding.target;
    });
    bindings_.push_back(binding);
}

RemoteTarget MidiBindings::targetOf(const MidiTrigger& trigger) const {
    const auto found = std::find_if(bindings_.begin(), bindings_.end(),
                                    [&trigger](const Binding& b) { return b.trigger == trigger; });
    return found == bindings_.end() ? RemoteTarget::None : found->target;
}

std::optional<MidiTrigger> MidiBindings::triggerOf(RemoteTarget target) const {
    const auto found = std::find_if(bindings_.begin(), bindings_.end(),
                                    [target](const Binding& b) { return b.target == target; });
    if (found == bindings_.end()) {
        return std::nullopt;
    }
    return found->trigger;
}
