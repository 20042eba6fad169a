#include "PathRules.h"

#include <filesystem>

#include "ShellLinkReader.h"

namespace PathRules {

namespace {

constexpr std::size_t kEndingLength = 3;

}  // namespace

std::string_view FileEnding(std::string_view path) {
    if (path.size() < kEndingLength) {
        return {};
    }
    return path.substr(path.size() - kEndingLength);
}

bool HasSetupFileEnding(std::string_view path) {
    const std::string_view ending = FileEnding(path);
    return ending == "qov" || ending == "q_v" || ending == ".qv";
}

bool HasShortcutEnding(std::string_view path) {
    const std::string_view ending = FileEnding(path);
    return ending == "lnk" || ending == "LNK";
}

LongPath ToLongPath(const std::string& path) {
    LongPath result;
    std::error_code error;
    if (!path.empty()) {
        const std::filesystem::path canonical = std::filesystem::canonical(path, error);
        if (!error) {
            result.found = true;
            result.path = canonical.string();
            return result;
        }
    }
    result.message = kPathNotFoundMessage;
    return result;
}

std::string CommandLinePath(std::span<const std::string> words) {
    std::string path;
    for (const std::string& word : words) {
        if (word.empty() || word.starts_with("--")) {
            continue;
        }
        if (!path.empty()) {
            path += ' ';
        }
        path += word;
    }
    return path;
}

OpenTarget ResolveOpenTarget(const std::string& path) {
    OpenTarget target;
    std::string file = path;
    if (HasShortcutEnding(path)) {
        try {
            file = ShellLinkReader::ResolveShortcut(path);
        } catch (const ShellLinkError& error) {
            if (error.kind() == ShellLinkError::Kind::NoPath) {
                target.action = OpenTarget::Action::ShowMessage;
                target.message = kGetPathFailedMessage;
            } else {
                target.message = error.what();
            }
            return target;
        }
    }
    if (!HasSetupFileEnding(file)) {
        return target;
    }
    LongPath longPath = ToLongPath(file);
    if (!longPath.found) {
        target.action = OpenTarget::Action::ShowMessage;
        target.message = longPath.message;
        return target;
    }
    target.action = OpenTarget::Action::Open;
    target.path = std::move(longPath.path);
    return target;
}

}  // namespace PathRules
