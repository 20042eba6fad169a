#pragma once

#include <span>
#include <string>
#include <string_view>

// The path handling that every way of opening a setup goes through (command line, dropped
// file, shortcut): file endings, shortcut resolution and the long form of a path. Pure rules
// over strings and the file system; the window's OpenFile runs the save prompt first and shows
// the messages.
namespace PathRules {

inline constexpr const char* kPathNotFoundMessage = "Path not found.";
// A shortcut that was read whole but holds no path to a file.
inline constexpr const char* kGetPathFailedMessage = "GetPath failed!";

// The last three characters of path; empty when path is shorter than three characters (it
// has no ending then).
std::string_view FileEnding(std::string_view path);
// "qov", "q_v" or ".qv", compared case-sensitively: song.QOV is not a setup file.
bool HasSetupFileEnding(std::string_view path);
// "lnk" or "LNK" only; set.Lnk is a plain file.
bool HasShortcutEnding(std::string_view path);

struct LongPath {
    bool found = false;
    std::string path;     // when found: absolute, canonical, every symlink followed
    std::string message;  // when not found: the text to show
};
// The long form of a path: its canonical absolute path. A path that does not exist (or is
// empty, or leads through a dangling symlink) is not found, with "Path not found.".
LongPath ToLongPath(const std::string& path);

// The setup path named by the command-line words after the program name: the words that do
// not begin with "--" (the options), joined with single spaces, so that an unquoted path with
// blanks stays in one piece; empty words add nothing. Empty when there is none.
std::string CommandLinePath(std::span<const std::string> words);

// What OpenFile does with a path once the save prompt has let it go on.
struct OpenTarget {
    enum class Action {
        Open,         // read `path`, the long form of the setup file
        Ignore,       // not a setup file, or a shortcut that leads nowhere: nothing is shown
        ShowMessage,  // show `message` and keep the current setup
    };
    Action action = Action::Ignore;
    std::string path;
    // For ShowMessage the text to show; for an ignored shortcut why it was ignored.
    std::string message;
};
// A shortcut ("lnk"/"LNK") is resolved first and its target's ending decides; any other path
// must have a setup file ending itself. The path that is opened is the long form. A shortcut
// that cannot be read is ignored; one that holds no path shows "GetPath failed!".
OpenTarget ResolveOpenTarget(const std::string& path);

}  // namespace PathRules
