#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "SetupFileBuilder.h"
#include "TempFolder.h"
#include "core/EngineLock.h"
#include "core/Random.h"
#include "core/Setup.h"
#include "document/SafeFileWriter.h"
#include "document/SetupFile.h"
#include "document/SetupFileError.h"
#include "document/SetupReader.h"
#include "document/SetupWriter.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct SeededRandom {
    SeededRandom() { Random::seed(77); }
};

// A setup that is open on some file and has unsaved edits; two of them are equal.
struct OpenSetup : SeededRandom {
    OpenSetup() {
        setup.path = "/somewhere/current.qov";
        setup.title = SetupFile::captionFor(setup.path);
        setup.dirty = true;
        setup.bpm = 140.0;
        setup.measures[0].steps[0].notes = IntArray{1, 2, 3};
    }
    Setup setup;
};

// Every field a read could touch.
void expectSameSetup(const Setup& a, const Setup& b) {
    EXPECT_EQ(a.path, b.path);
    EXPECT_EQ(a.title, b.title);
    EXPECT_EQ(a.dirty, b.dirty);
    EXPECT_EQ(a.bpm, b.bpm);
    EXPECT_EQ(a.fileVersion, b.fileVersion);
    EXPECT_EQ(a.tempoEditMode, b.tempoEditMode);
    EXPECT_EQ(a.port.portId, b.port.portId);
    EXPECT_EQ(a.port.channel, b.port.channel);
    EXPECT_EQ(a.port.portName, b.port.portName);
    EXPECT_EQ(a.selectedMeasure, b.selectedMeasure);
    EXPECT_EQ(a.mute, b.mute);
    EXPECT_EQ(a.stepsPerMeasure, b.stepsPerMeasure);
    EXPECT_EQ(a.polyphonic, b.polyphonic);
    EXPECT_EQ(a.volume, b.volume);
    EXPECT_EQ(a.transpose, b.transpose);
    for (std::size_t m = 0; m < a.measures.size(); ++m) {
        EXPECT_EQ(a.measures[m].next, b.measures[m].next);
        EXPECT_EQ(a.measures[m].repeats, b.measures[m].repeats);
        for (std::size_t s = 0; s < a.measures[m].steps.size(); ++s) {
            const Step& x = a.measures[m].steps[s];
            const Step& y = b.measures[m].steps[s];
            ASSERT_TRUE(x.notes == y.notes && x.on == y.on && x.program == y.program &&
                        x.velocity == y.velocity && x.pan == y.pan && x.duration == y.duration)
                << m << "/" << s;
        }
    }
}

TEST(SetupFileOpen, AFileThatEndsEarlyLeavesTheSetupAsItWas) {
    TempFolder folder;
    SetupFileSpec spec;
    spec.bpm = 60.0;
    spec.step = [](int, int) {
        StepBytes step;
        step.notes = {11};
        return step;
    };
    Bytes bytes = SetupFileBuilder::build(spec);
    // Cut inside the trailer: every measure has already been read by then.
    bytes.resize(bytes.size() - 14);
    const std::string path = folder.file("short.qov");
    TempFolder::writeBytes(path, bytes);

    OpenSetup current;
    OpenSetup before;
    try {
        SetupFile::open(path, current.setup, nullptr);
        FAIL() << "the short file was read";
    } catch (const SetupFileError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "An attempt was made to access " + path + " past its end.");
    }
    expectSameSetup(current.setup, before.setup);
}

TEST(SetupFileOpen, ADamagedFileLeavesTheSetupAsItWas) {
    TempFolder folder;
    Bytes bytes = SetupFileBuilder::build(SetupFileSpec{});
    bytes[30 + 4 + 18 * 5 + 3] = 0x80;  // a negative note count in loop 1, step 6
    const std::string path = folder.file("damaged.qov");
    TempFolder::writeBytes(path, bytes);
    OpenSetup current;
    OpenSetup before;
    EXPECT_THROW(SetupFile::open(path, current.setup, nullptr), SetupFileError);
    expectSameSetup(current.setup, before.setup);
}

TEST(SetupFileOpen, AMissingFileIsNamedInTheMessage) {
    TempFolder folder;
    const std::string path = folder.file("absent.qov");
    OpenSetup current;
    try {
        SetupFile::open(path, current.setup, nullptr);
        FAIL();
    } catch (const SetupFileError& error) {
        EXPECT_EQ(error.kind(), SetupFileError::Kind::CannotOpen);
        EXPECT_EQ(std::string(error.what()), path + " was not found.");
    }
    EXPECT_EQ(current.setup.path, "/somewhere/current.qov");
}

TEST(SetupFileOpen, AFolderIsRefused) {
    TempFolder folder;
    OpenSetup current;
    EXPECT_THROW(SetupFile::open(folder.path().string(), current.setup, nullptr), SetupFileError);
    EXPECT_TRUE(current.setup.dirty);
}

TEST(SetupFileOpen, AFileFarLargerThanAnySetupIsRefused) {
    TempFolder folder;
    const std::string path = folder.file("huge.qov");
    TempFolder::writeBytes(path, SetupFileBuilder::build(SetupFileSpec{}));
    // Sparse: valid setup bytes followed by zeros up to just past the limit.
    std::filesystem::resize_file(path, SetupReader::kMaxFileSize + 1);
    OpenSetup current;
    try {
        SetupFile::open(path, current.setup, nullptr);
        FAIL();
    } catch (const SetupFileError& error) {
        EXPECT_EQ(error.kind(), SetupFileError::Kind::TooLarge);
        EXPECT_EQ(std::string(error.what()), path + " is too large to be a setup file.");
    }
    // Exactly at the limit it still reads; the zeros after the setup are ignored.
    std::filesystem::resize_file(path, SetupReader::kMaxFileSize);
    EXPECT_NO_THROW(SetupFile::open(path, current.setup, nullptr));
}

TEST(SetupFileOpen, ASuccessfulReadCommitsEverythingAndClearsDirty) {
    TempFolder folder;
    SetupFileSpec spec;
    spec.bpm = 99.5;
    spec.portName = SetupFileSpec::counted("Port A");
    spec.selectedMeasure = 3;
    spec.left = 640;
    spec.top = 480;
    const std::string path = folder.file("song.qov");
    TempFolder::writeBytes(path, SetupFileBuilder::build(spec));

    OpenSetup current;
    EngineLock lock;
    const SetupRecord record = SetupFile::open(path, current.setup, &lock);
    EXPECT_EQ(current.setup.bpm, 99.5);
    EXPECT_EQ(current.setup.port.portName, "Port A");
    EXPECT_EQ(current.setup.selectedMeasure, 3);
    EXPECT_EQ(current.setup.measures[0].steps[0].notes, IntArray{0});
    EXPECT_EQ(current.setup.fileVersion, 2.9f);
    EXPECT_EQ(current.setup.path, path);
    EXPECT_EQ(current.setup.title, " -  +  \xC3\xB7  x :   song.qov");
    EXPECT_FALSE(current.setup.dirty);
    // The window's part comes back with the record.
    EXPECT_EQ(record.windowLeft, 640);
    EXPECT_EQ(record.windowTop, 480);
    EXPECT_EQ(record.baseColor, 0x00336699);
    // The engine lock was released again.
    ASSERT_TRUE(lock.try_lock());
    lock.unlock();
}

TEST(SetupFileSave, WritesTheFileAndThenUpdatesPathTitleAndDirty) {
    TempFolder folder;
    OpenSetup current;
    const std::string path = folder.file("saved.qov");
    SetupFile::save(path, current.setup, 0x00445566, 12, 34);
    EXPECT_EQ(current.setup.path, path);
    EXPECT_EQ(current.setup.title, " -  +  \xC3\xB7  x :   saved.qov");
    EXPECT_FALSE(current.setup.dirty);
    const SetupRecord back = SetupReader::readFile(path);
    EXPECT_EQ(back.bpm, 140.0);
    EXPECT_EQ(back.baseColor, 0x00445566);
    EXPECT_EQ(back.windowLeft, 12);
    EXPECT_EQ(back.windowTop, 34);
    EXPECT_EQ(back.measures[0].steps[0].notes, (IntArray{1, 2, 3}));
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"saved.qov"});
}

TEST(SetupFileSave, AFailedSaveChangesNothing) {
    TempFolder folder;
    OpenSetup current;
    const std::string path = folder.file("no-such-folder/x.qov");
    try {
        SetupFile::save(path, current.setup, 0, 0, 0);
        FAIL();
    } catch (const SetupFileError& error) {
        EXPECT_EQ(error.kind(), SetupFileError::Kind::CannotWrite);
        EXPECT_EQ(std::string(error.what()),
                  path + " could not be created: No such file or directory.");
    }
    EXPECT_EQ(current.setup.path, "/somewhere/current.qov");
    EXPECT_EQ(current.setup.title, SetupFile::captionFor("/somewhere/current.qov"));
    EXPECT_TRUE(current.setup.dirty);
}

TEST(SetupFileSave, AFolderThatCannotBeWrittenIsNamedAsTheCause) {
    OpenSetup current;
    try {
        SetupFile::save("/sys/x.qov", current.setup, 0, 0, 0);  // not even root may create here
        FAIL();
    } catch (const SetupFileError& error) {
        EXPECT_EQ(std::string(error.what()), "/sys/x.qov could not be created: Permission denied.");
    }
}

TEST(SetupFileSave, SavingOntoAFolderFailsAndKeepsIt) {
    TempFolder folder;
    std::filesystem::create_directory(folder.file("taken.qov"));
    OpenSetup current;
    EXPECT_THROW(SetupFile::save(folder.file("taken.qov"), current.setup, 0, 0, 0), SetupFileError);
    EXPECT_TRUE(std::filesystem::is_directory(folder.file("taken.qov")));
    EXPECT_TRUE(current.setup.dirty);
}

TEST(SafeFileWriter, ASaveAbandonedBeforeTheRenameLeavesTheOldFileAndNoLitter) {
    TempFolder folder;
    const std::string path = folder.file("keep.qov");
    const Bytes old = {1, 2, 3, 4};
    TempFolder::writeBytes(path, old);
    {
        SafeFileWriter writer(path);
        writer.write(Bytes(5000, 0xAB));
        EXPECT_TRUE(std::filesystem::exists(writer.temporaryPath()));
        EXPECT_EQ(std::filesystem::path(writer.temporaryPath()).parent_path(), folder.path());
        EXPECT_EQ(TempFolder::readBytes(path), old);
    }
    EXPECT_EQ(TempFolder::readBytes(path), old);
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"keep.qov"});
}

TEST(SafeFileWriter, AProcessKilledBeforeTheRenameLeavesTheOldFile) {
    TempFolder folder;
    const std::string path = folder.file("keep.qov");
    const Bytes old = {9, 8, 7};
    TempFolder::writeBytes(path, old);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SafeFileWriter writer(path);
        writer.write(Bytes(100000, 0x11));
        ::_exit(0);  // dies mid-save: no destructor, no rename
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(TempFolder::readBytes(path), old);
}

TEST(SafeFileWriter, ACommitReplacesTheFileAndKeepsItsPermissions) {
    TempFolder folder;
    const std::string path = folder.file("mode.qov");
    TempFolder::writeBytes(path, {1});
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    SafeFileWriter writer(path);
    writer.write(Bytes{5, 6});
    writer.commit();
    EXPECT_EQ(TempFolder::readBytes(path), (Bytes{5, 6}));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(folder.entries(), std::vector<std::string>{"mode.qov"});
}

TEST(SafeFileWriter, SavingThroughALinkReplacesTheLinkedFileAndKeepsTheLink) {
    TempFolder folder;
    const std::string real = folder.file("real.qov");
    const std::string link = folder.file("link.qov");
    TempFolder::writeBytes(real, {1});
    std::filesystem::create_symlink(real, link);
    SafeFileWriter writer(link);
    writer.write(Bytes{7});
    writer.commit();
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(TempFolder::readBytes(real), Bytes{7});
}

TEST(SetupFile, CaptionUsesTheFileNameWithoutItsFolder) {
    EXPECT_EQ(SetupFile::captionFor("/home/a/b c.qov"), " -  +  \xC3\xB7  x :   b c.qov");
    EXPECT_EQ(SetupFile::captionFor("plain.qov"), " -  +  \xC3\xB7  x :   plain.qov");
}

}  // namespace
