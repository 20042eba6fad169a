#include "document/ShellLinkReader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "ShellLinkBuilder.h"
#include "TempFolder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

ShellLink parse(const Bytes& bytes) {
    return ShellLinkReader::parse(bytes, "set.lnk");
}

// A link as the shell writes it for a file next to it: item list, LinkInfo with both forms of
// the local base path, a description and the relative path.
ShellLinkBuilder typicalLink() {
    ShellLinkBuilder link;
    link.idListSize = 40;
    link.localBasePath = "C:\\Setups\\song.qov";
    link.localBasePathUnicode = "C:\\Setups\\song.qov";
    link.name = "My song";
    link.relativePath = ".\\song.qov";
    return link;
}

void touch(const std::filesystem::path& path) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << "x";
}

}  // namespace

TEST(ShellLinkReader, ReadsTheFieldsOfATypicalLink) {
    const ShellLink link = parse(typicalLink().build());
    EXPECT_EQ("My song", link.name);
    EXPECT_EQ(".\\song.qov", link.relativePath);
    EXPECT_EQ("C:\\Setups\\song.qov", link.localBasePath);
}

TEST(ShellLinkReader, ReadsAnsiTextAsWindows1252UnlessItIsUtf8) {
    ShellLinkBuilder builder;
    builder.unicode = false;
    builder.relativePath = "..\\Caf\xE9\\song.qov";
    builder.localBasePath = "D:\\M\xC3\xBCller\\song.qov";  // already UTF-8
    const ShellLink link = parse(builder.build());
    EXPECT_EQ("..\\Caf\xC3\xA9\\song.qov", link.relativePath);
    EXPECT_EQ("D:\\M\xC3\xBCller\\song.qov", link.localBasePath);
}

TEST(ShellLinkReader, PrefersTheUnicodeLocalBasePath) {
    ShellLinkBuilder builder;
    builder.localBasePath = "C:\\SETUPS~1\\??.qov";
    builder.localBasePathUnicode = "C:\\Setups\\\xE2\x99\xAA\xF0\x9D\x84\x9E.qov";
    EXPECT_EQ("C:\\Setups\\\xE2\x99\xAA\xF0\x9D\x84\x9E.qov", parse(builder.build()).localBasePath);
}

TEST(ShellLinkReader, AppendsTheCommonPathSuffix) {
    ShellLinkBuilder builder;
    builder.localBasePath = "C:\\Setups";
    builder.commonPathSuffix = "song.qov";
    EXPECT_EQ("C:\\Setups\\song.qov", parse(builder.build()).localBasePath);
    builder.localBasePathUnicode = "C:\\Setups\\";
    EXPECT_EQ("C:\\Setups\\song.qov", parse(builder.build()).localBasePath);
}

TEST(ShellLinkReader, IgnoresLinkInfoWhenTheLinkSaysSo) {
    ShellLinkBuilder builder = typicalLink();
    builder.forceNoLinkInfo = true;
    const ShellLink link = parse(builder.build());
    EXPECT_EQ("", link.localBasePath);
    EXPECT_EQ(".\\song.qov", link.relativePath);  // still found after the skipped block
}

TEST(ShellLinkReader, TextStopsAtANul) {
    ShellLinkBuilder builder;
    builder.relativePath = std::string("a.qov\0.txt", 10);
    EXPECT_EQ("a.qov", parse(builder.build()).relativePath);
    builder.unicode = false;
    EXPECT_EQ("a.qov", parse(builder.build()).relativePath);
}

TEST(ShellLinkReader, RefusesFilesThatAreNotLinks) {
    const Bytes good = typicalLink().build();
    EXPECT_THROW(parse({}), ShellLinkError);
    EXPECT_THROW(parse(Bytes(good.begin(), good.begin() + 0x4B)), ShellLinkError);
    Bytes wrongSize = good;
    wrongSize[0] = 0x4D;
    EXPECT_THROW(parse(wrongSize), ShellLinkError);
    Bytes wrongClass = good;
    wrongClass[19] = 0x47;
    try {
        parse(wrongClass);
        ADD_FAILURE() << "accepted a wrong class id";
    } catch (const ShellLinkError& error) {
        EXPECT_STREQ("set.lnk is not a shortcut.", error.what());
    }
}

// Cut off anywhere, a link must be refused with ShellLinkError, never read past its end.
TEST(ShellLinkReader, EveryTruncationIsRefused) {
    for (const bool unicode : {true, false}) {
        ShellLinkBuilder builder = typicalLink();
        builder.unicode = unicode;
        builder.extraData.clear();  // the link then ends exactly with its relative path
        const Bytes full = builder.build();
        for (std::size_t length = 0; length < full.size(); ++length) {
            EXPECT_THROW(parse(Bytes(full.begin(), full.begin() + static_cast<long>(length))),
                         ShellLinkError)
                << "length " << length << " of " << full.size();
        }
        EXPECT_NO_THROW(parse(full));
    }
}

TEST(ShellLinkReader, RefusesSizesAndOffsetsOutsideTheFile) {
    const ShellLinkBuilder builder = typicalLink();
    const Bytes good = builder.build();
    const std::size_t info = builder.linkInfoOffset();
    const auto with32 = [&](std::size_t at, std::uint32_t value) {
        Bytes bytes = good;
        for (std::size_t i = 0; i < 4; ++i) {
            bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
        return bytes;
    };
    const auto expectDamaged = [](const Bytes& bytes, const char* what) {
        try {
            parse(bytes);
            ADD_FAILURE() << "accepted " << what;
        } catch (const ShellLinkError& error) {
            EXPECT_EQ(0, std::string(error.what()).rfind("set.lnk is a damaged shortcut: ", 0))
                << error.what();
        }
    };
    Bytes idList = good;
    idList[0x4C] = 0xFF;
    idList[0x4D] = 0xFF;
    expectDamaged(idList, "an item list larger than the file");
    expectDamaged(with32(info, 0xFFFFFFFF), "a huge link information size");
    expectDamaged(with32(info, 0x10), "a link information block smaller than its header");
    expectDamaged(with32(info + 4, 0x200), "a header larger than its block");
    expectDamaged(with32(info + 4, 0x20), "a header size between the two valid forms");
    expectDamaged(with32(info + 28, 0x7FFFFFF0), "a Unicode path offset outside the block");
    // A relative path whose character count runs past the end.
    Bytes counted = good;
    const std::size_t strings = builder.stringDataOffset();
    counted[strings] = 0xFF;
    counted[strings + 1] = 0xFF;
    expectDamaged(counted, "a text longer than the file");
}

TEST(ShellLinkReader, AnsiPathOffsetIsCheckedWhenNoUnicodeFormExists) {
    ShellLinkBuilder builder;
    builder.localBasePath = "C:\\song.qov";
    Bytes bytes = builder.build();
    bytes[builder.linkInfoOffset() + 16] = 0xF0;  // local base path offset beyond the block
    EXPECT_THROW(parse(bytes), ShellLinkError);
    // The last byte of the block is the suffix's terminator: without it the path runs on.
    bytes = builder.build();
    const std::size_t end = builder.linkInfoOffset() + bytes[builder.linkInfoOffset()];
    bytes[end - 1] = 'x';
    EXPECT_THROW(parse(bytes), ShellLinkError);
}

// Every single byte set to 0x00, 0x7F and 0xFF in turn: the reader either reads the link or
// refuses it; the sanitizer build catches any read outside the bytes.
TEST(ShellLinkReader, SurvivesEverySingleByteDamage) {
    const Bytes good = typicalLink().build();
    int refused = 0;
    for (std::size_t i = 0; i < good.size(); ++i) {
        for (const std::uint8_t value : {0x00, 0x7F, 0xFF}) {
            Bytes bytes = good;
            bytes[i] = value;
            try {
                parse(bytes);
            } catch (const ShellLinkError&) {
                ++refused;
            }
        }
    }
    EXPECT_GT(refused, 0);
}

TEST(ShellLinkReader, ReadFileRefusesWhatIsNotARegularFile) {
    TempFolder folder;
    EXPECT_THROW(ShellLinkReader::readFile(folder.file("missing.lnk")), ShellLinkError);
    std::filesystem::create_directory(folder.file("folder.lnk"));
    EXPECT_THROW(ShellLinkReader::readFile(folder.file("folder.lnk")), ShellLinkError);
    // A named pipe would block a reader forever.
    ASSERT_EQ(0, ::mkfifo(folder.file("pipe.lnk").c_str(), 0600));
    try {
        ShellLinkReader::readFile(folder.file("pipe.lnk"));
        ADD_FAILURE() << "read a pipe";
    } catch (const ShellLinkError& error) {
        EXPECT_EQ(folder.file("pipe.lnk") + " could not be read.", error.what());
    }
}

TEST(ShellLinkReader, ReadFileReadsOnlyTheStartOfAHugeFile) {
    TempFolder folder;
    ShellLinkBuilder builder = typicalLink();
    builder.extraData.assign(3 * ShellLinkReader::kMaxLinkBytes, 0x5A);
    builder.writeTo(folder.file("big.lnk"));
    EXPECT_EQ(".\\song.qov", ShellLinkReader::readFile(folder.file("big.lnk")).relativePath);
}

TEST(ShellLinkResolve, RelativePathIsResolvedAgainstTheLinksFolder) {
    TempFolder folder;
    touch(folder.path() / "setups" / "song.qov");
    ShellLinkBuilder builder = typicalLink();
    builder.relativePath = "..\\setups\\song.qov";
    std::filesystem::create_directory(folder.path() / "links");
    builder.writeTo(folder.file("links/set.LNK"));
    EXPECT_EQ((folder.path() / "setups" / "song.qov").string(),
              ShellLinkReader::ResolveShortcut(folder.file("links/set.LNK")));
}

TEST(ShellLinkResolve, WindowsPathFallsBackToTheSameNameBesideTheLink) {
    TempFolder folder;
    touch(folder.path() / "song.qov");
    ShellLinkBuilder builder;
    builder.localBasePath = "C:\\Users\\me\\Setups\\song.qov";
    EXPECT_EQ((folder.path() / "song.qov").string(),
              ShellLinkReader::targetPath(parse(builder.build()), folder.path().string(), "l"));
    builder.localBasePath = "\\\\server\\share\\song.qov";
    EXPECT_EQ((folder.path() / "song.qov").string(),
              ShellLinkReader::targetPath(parse(builder.build()), folder.path().string(), "l"));
}

TEST(ShellLinkResolve, AbsoluteLocalPathOfThisSystemIsTakenAsItIs) {
    TempFolder folder;
    touch(folder.path() / "elsewhere" / "song.qov");
    ShellLinkBuilder builder;
    builder.localBasePath = (folder.path() / "elsewhere" / "song.qov").string();
    EXPECT_EQ((folder.path() / "elsewhere" / "song.qov").string(),
              ShellLinkReader::targetPath(parse(builder.build()), "/nowhere", "l"));
}

TEST(ShellLinkResolve, FirstExistingCandidateWinsElseTheFirst) {
    TempFolder folder;
    ShellLinkBuilder builder;
    builder.relativePath = ".\\moved.qov";
    builder.localBasePath = "C:\\Setups\\song.qov";
    const ShellLink link = parse(builder.build());
    const std::string in = folder.path().string();
    EXPECT_EQ((folder.path() / "moved.qov").string(), ShellLinkReader::targetPath(link, in, "l"));
    touch(folder.path() / "song.qov");
    EXPECT_EQ((folder.path() / "song.qov").string(), ShellLinkReader::targetPath(link, in, "l"));
    touch(folder.path() / "moved.qov");
    EXPECT_EQ((folder.path() / "moved.qov").string(), ShellLinkReader::targetPath(link, in, "l"));
}

TEST(ShellLinkResolve, LinkWithoutAnyPathIsAnError) {
    TempFolder folder;
    ShellLinkBuilder builder;
    builder.idListSize = 20;  // only an item list, which we do not interpret
    builder.name = "nothing";
    builder.writeTo(folder.file("empty.lnk"));
    try {
        ShellLinkReader::ResolveShortcut(folder.file("empty.lnk"));
        ADD_FAILURE() << "resolved a link without a path";
    } catch (const ShellLinkError& error) {
        EXPECT_EQ(folder.file("empty.lnk") + " does not point to a file.", error.what());
    }
    builder.localBasePath = "C:\\";  // a drive, no file name
    EXPECT_THROW(ShellLinkReader::targetPath(parse(builder.build()), "/x", "l"), ShellLinkError);
}
