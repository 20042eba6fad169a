#include "document/PathRules.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "ShellLinkBuilder.h"
#include "TempFolder.h"

namespace {

namespace fs = std::filesystem;
using PathRules::OpenTarget;

struct EndingCase {
    const char* path;
    bool setupFile;
    bool shortcut;
};

class PathRulesEnding : public testing::TestWithParam<EndingCase> {};

void touch(const fs::path& path) {
    std::ofstream(path) << "x";
}

}  // namespace

TEST_P(PathRulesEnding, LastThreeCharactersDecideCaseSensitively) {
    const EndingCase& param = GetParam();
    EXPECT_EQ(param.setupFile, PathRules::HasSetupFileEnding(param.path));
    EXPECT_EQ(param.shortcut, PathRules::HasShortcutEnding(param.path));
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PathRulesEnding,
    testing::Values(EndingCase{"song.qov", true, false}, EndingCase{"song.QOV", false, false},
                    EndingCase{"song.Qov", false, false}, EndingCase{"old.q_v", true, false},
                    EndingCase{"older.qv", true, false}, EndingCase{"/a/b/c.qov", true, false},
                    EndingCase{"songqov", true, false},  // the dot is not part of the rule
                    EndingCase{".qv", true, false}, EndingCase{"qv", false, false},
                    EndingCase{"", false, false}, EndingCase{"set.lnk", false, true},
                    EndingCase{"set.LNK", false, true}, EndingCase{"set.Lnk", false, false},
                    EndingCase{"set.lNK", false, false}, EndingCase{"lnk", false, true},
                    EndingCase{"nk", false, false}, EndingCase{"song.qov ", false, false}));

TEST(PathRules, CommandLineWordsJoinIntoOnePath) {
    const std::vector<std::string> none;
    EXPECT_EQ("", PathRules::CommandLinePath(none));
    const std::vector<std::string> spaced = {"/home/me/My", "Setups/a", "b.qov"};
    EXPECT_EQ("/home/me/My Setups/a b.qov", PathRules::CommandLinePath(spaced));
    const std::vector<std::string> options = {"--log-midi", "My", "--x", "song.qov", "--"};
    EXPECT_EQ("My song.qov", PathRules::CommandLinePath(options));
    const std::vector<std::string> dashes = {"-", "-a.qov", "", "b"};
    EXPECT_EQ("- -a.qov b", PathRules::CommandLinePath(dashes));
    const std::vector<std::string> onlyOptions = {"--help"};
    EXPECT_EQ("", PathRules::CommandLinePath(onlyOptions));
}

TEST(PathRules, LongPathIsCanonicalWithSymlinksFollowed) {
    TempFolder folder;
    fs::create_directory(folder.path() / "real");
    touch(folder.path() / "real" / "song.qov");
    fs::create_directory_symlink(folder.path() / "real", folder.path() / "alias");
    const fs::path realFile = fs::canonical(folder.path() / "real" / "song.qov");

    const PathRules::LongPath viaLink =
        PathRules::ToLongPath((folder.path() / "alias" / ".." / "alias" / "song.qov").string());
    EXPECT_TRUE(viaLink.found);
    EXPECT_EQ(realFile.string(), viaLink.path);
    EXPECT_EQ("", viaLink.message);
}

TEST(PathRules, LongPathOfAMissingPathIsNotFound) {
    TempFolder folder;
    fs::create_symlink(folder.path() / "gone.qov", folder.path() / "dangling.qov");
    touch(folder.path() / "song.qov");  // reachable by name, but not through a missing folder
    for (const std::string& path : {folder.file("missing.qov"), folder.file("dangling.qov"),
                                    std::string(), folder.file("missing/../song.qov")}) {
        const PathRules::LongPath result = PathRules::ToLongPath(path);
        EXPECT_FALSE(result.found) << path;
        EXPECT_EQ("Path not found.", result.message) << path;
        EXPECT_EQ("", result.path);
    }
}

// The whole path handling of OpenFile, after the save prompt.
class OpenTargetTest : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(folder.path() / "My Setups");
        song = folder.path() / "My Setups" / "song.qov";
        touch(song);
        touch(folder.path() / "song.QOV");
        touch(folder.path() / "notes.txt");
    }

    OpenTarget resolve(const std::string& name) const {
        return PathRules::ResolveOpenTarget(folder.file(name));
    }

    static void writeLink(const fs::path& at, const std::string& relative) {
        ShellLinkBuilder link;
        link.localBasePath = "C:\\Users\\me\\Desktop\\whatever.qov";
        link.relativePath = relative;
        link.writeTo(at.string());
    }

    TempFolder folder;
    fs::path song;
};

TEST_F(OpenTargetTest, SetupFileOpensByItsLongPath) {
    const OpenTarget target = resolve("My Setups/../My Setups/song.qov");
    EXPECT_EQ(OpenTarget::Action::Open, target.action);
    EXPECT_EQ(fs::canonical(song).string(), target.path);
}

TEST_F(OpenTargetTest, OtherEndingsAreIgnoredSilently) {
    for (const char* name : {"song.QOV", "notes.txt", "x"}) {
        const OpenTarget target = resolve(name);
        EXPECT_EQ(OpenTarget::Action::Ignore, target.action) << name;
        EXPECT_EQ("", target.message) << name;
    }
}

TEST_F(OpenTargetTest, MissingSetupFileShowsPathNotFound) {
    const OpenTarget target = resolve("other.qov");
    EXPECT_EQ(OpenTarget::Action::ShowMessage, target.action);
    EXPECT_EQ("Path not found.", target.message);
}

TEST_F(OpenTargetTest, ShortcutToASetupOpensTheTargetsLongPath) {
    writeLink(folder.path() / "set.LNK", "My Setups\\song.qov");
    const OpenTarget upper = resolve("set.LNK");
    EXPECT_EQ(OpenTarget::Action::Open, upper.action);
    EXPECT_EQ(fs::canonical(song).string(), upper.path);

    fs::copy_file(folder.path() / "set.LNK", folder.path() / "set.lnk");
    EXPECT_EQ(OpenTarget::Action::Open, resolve("set.lnk").action);
}

TEST_F(OpenTargetTest, ShortcutWithOtherCapitalisationIsAPlainFile) {
    writeLink(folder.path() / "set.Lnk", "My Setups\\song.qov");
    EXPECT_EQ(OpenTarget::Action::Ignore, resolve("set.Lnk").action);
}

TEST_F(OpenTargetTest, ShortcutTargetsEndingDecides) {
    writeLink(folder.path() / "text.lnk", "notes.txt");
    EXPECT_EQ(OpenTarget::Action::Ignore, resolve("text.lnk").action);
    writeLink(folder.path() / "upper.lnk", "song.QOV");
    EXPECT_EQ(OpenTarget::Action::Ignore, resolve("upper.lnk").action);
    writeLink(folder.path() / "gone.lnk", "gone.qov");
    const OpenTarget gone = resolve("gone.lnk");
    EXPECT_EQ(OpenTarget::Action::ShowMessage, gone.action);
    EXPECT_EQ("Path not found.", gone.message);
}

TEST_F(OpenTargetTest, AShortcutThatHoldsNoPathShowsGetPathFailed) {
    ShellLinkBuilder link;
    link.idListSize = 20;  // only an item list, which names no file here
    link.writeTo(folder.file("nothing.lnk"));
    const OpenTarget target = resolve("nothing.lnk");
    EXPECT_EQ(OpenTarget::Action::ShowMessage, target.action);
    EXPECT_EQ("GetPath failed!", target.message);
}

TEST_F(OpenTargetTest, DamagedOrMissingShortcutEndsSilentlyWithAReason) {
    TempFolder::writeBytes(folder.file("bad.lnk"), {0x4C, 0, 0, 0, 1, 2, 3});
    const OpenTarget bad = resolve("bad.lnk");
    EXPECT_EQ(OpenTarget::Action::Ignore, bad.action);
    EXPECT_EQ(folder.file("bad.lnk") + " is not a shortcut.", bad.message);

    const OpenTarget missing = resolve("missing.LNK");
    EXPECT_EQ(OpenTarget::Action::Ignore, missing.action);
    EXPECT_EQ(folder.file("missing.LNK") + " could not be read.", missing.message);
}
