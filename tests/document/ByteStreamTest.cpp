#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "document/ByteReader.h"
#include "document/ByteWriter.h"
#include "document/SetupFileError.h"
#include "document/TextEncoding.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string readString(const Bytes& bytes, std::size_t* consumed = nullptr) {
    ByteReader in(bytes, "test.qov");
    std::string text = in.readCountedString();
    if (consumed != nullptr) {
        *consumed = in.position();
    }
    return text;
}

SetupFileError::Kind failureOf(const Bytes& bytes, std::string* message = nullptr) {
    try {
        readString(bytes);
    } catch (const SetupFileError& error) {
        if (message != nullptr) {
            *message = error.what();
        }
        return error.kind();
    }
    ADD_FAILURE() << "the string was read";
    return SetupFileError::Kind::CannotOpen;
}

struct PrefixCase {
    std::size_t length;
    Bytes prefix;
};

class CountedStringPrefix : public ::testing::TestWithParam<PrefixCase> {};

TEST_P(CountedStringPrefix, HasTheLayoutsPrefixAndReadsBack) {
    const auto& [length, prefix] = GetParam();
    const std::string text(length, 'q');
    ByteWriter out;
    out.writeCountedString(text);
    const Bytes& bytes = out.bytes();
    ASSERT_EQ(bytes.size(), prefix.size() + length);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(prefix.size())),
              prefix);
    std::size_t consumed = 0;
    EXPECT_EQ(readString(bytes, &consumed), text);
    EXPECT_EQ(consumed, bytes.size());
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, CountedStringPrefix,
    ::testing::Values(PrefixCase{0, {0x00}}, PrefixCase{1, {0x01}}, PrefixCase{254, {0xFE}},
                      PrefixCase{255, {0xFF, 0xFF, 0x00}}, PrefixCase{256, {0xFF, 0x00, 0x01}},
                      // 65534 would be the 16-bit-character mark, so it takes the long form.
                      PrefixCase{65533, {0xFF, 0xFD, 0xFF}},
                      PrefixCase{65534, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
                      PrefixCase{70000, {0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}}));

TEST(CountedString, SixteenBitCharactersBecomeUtf8) {
    // Mark, then an ordinary prefix of 3 units: 'A', e-acute, the euro sign.
    const Bytes bytes = {0xFF, 0xFE, 0xFF, 0x03, 'A', 0x00, 0xE9, 0x00, 0xAC, 0x20};
    std::size_t consumed = 0;
    EXPECT_EQ(readString(bytes, &consumed), "A\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(consumed, bytes.size());
}

TEST(CountedString, SixteenBitCharactersWithALongSecondPrefix) {
    Bytes bytes = {0xFF, 0xFE, 0xFF, 0xFF, 0x2C, 0x01};  // 300 units
    for (int i = 0; i < 300; ++i) {
        bytes.push_back('z');
        bytes.push_back(0);
    }
    EXPECT_EQ(readString(bytes), std::string(300, 'z'));
}

TEST(CountedString, SurrogatePairsJoinAndLoneSurrogatesAreReplaced) {
    // U+1F3B9 as D83C DFB9, then a lone high surrogate, then 'x'.
    const Bytes bytes = {0xFF, 0xFE, 0xFF, 0x04, 0x3C, 0xD8, 0xB9, 0xDF, 0x00, 0xD8, 'x', 0x00};
    EXPECT_EQ(readString(bytes), "\xF0\x9F\x8E\xB9\xEF\xBF\xBDx");
}

TEST(CountedString, EightBitTextThatIsNotUtf8IsWindows1252) {
    // "Café €" as the old desktop stored it.
    const Bytes bytes = {0x06, 'C', 'a', 'f', 0xE9, ' ', 0x80};
    EXPECT_EQ(readString(bytes), "Caf\xC3\xA9 \xE2\x82\xAC");
}

TEST(CountedString, Utf8TextIsKept) {
    const Bytes bytes = {0x05, 'C', 'a', 'f', 0xC3, 0xA9};
    EXPECT_EQ(readString(bytes), "Caf\xC3\xA9");
}

TEST(CountedString, TooFewCharactersIsTheEndOfTheFile) {
    std::string message;
    EXPECT_EQ(failureOf({0x05, 'a', 'b'}, &message), SetupFileError::Kind::EndOfFile);
    EXPECT_EQ(message, "An attempt was made to access test.qov past its end.");
}

TEST(CountedString, HugeLengthsFailBeforeAnythingIsAllocated) {
    EXPECT_EQ(failureOf({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 'a'}),
              SetupFileError::Kind::EndOfFile);
    EXPECT_EQ(failureOf({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 'a', 0}),
              SetupFileError::Kind::EndOfFile);
    // One unit short of the announced 2 units.
    EXPECT_EQ(failureOf({0xFF, 0xFE, 0xFF, 0x02, 'a', 0, 'b'}), SetupFileError::Kind::EndOfFile);
}

TEST(CountedString, APrefixCutShortIsTheEndOfTheFile) {
    EXPECT_EQ(failureOf({}), SetupFileError::Kind::EndOfFile);
    EXPECT_EQ(failureOf({0xFF, 0x01}), SetupFileError::Kind::EndOfFile);
    EXPECT_EQ(failureOf({0xFF, 0xFF, 0xFF, 0x01, 0x00}), SetupFileError::Kind::EndOfFile);
    EXPECT_EQ(failureOf({0xFF, 0xFE, 0xFF}), SetupFileError::Kind::EndOfFile);
}

TEST(CountedString, TwoWidthMarksAreDamage) {
    std::string message;
    EXPECT_EQ(failureOf({0xFF, 0xFE, 0xFF, 0xFF, 0xFE, 0xFF, 0x00}, &message),
              SetupFileError::Kind::Damaged);
    EXPECT_NE(message.find("test.qov"), std::string::npos);
}

TEST(LittleEndianFields, ReadAndWriteTheSameBytes) {
    ByteWriter out;
    out.writeInt16(-2);
    out.writeInt32(-123456789);
    out.writeFloat32(2.9f);
    out.writeFloat64(126.0);
    EXPECT_EQ(out.bytes(), (Bytes{0xFE, 0xFF, 0xEB, 0x32, 0xA4, 0xF8, 0x9A, 0x99, 0x39, 0x40, 0x00,
                                  0x00, 0x00, 0x00, 0x00, 0x80, 0x5F, 0x40}));
    ByteReader in(out.bytes(), "f");
    EXPECT_EQ(in.readInt16(), -2);
    EXPECT_EQ(in.readInt32(), -123456789);
    EXPECT_EQ(in.readFloat32(), 2.9f);
    EXPECT_EQ(in.readFloat64(), 126.0);
    EXPECT_EQ(in.remaining(), 0u);
    EXPECT_THROW(in.readByte(), SetupFileError);
}

TEST(LittleEndianFields, AFieldCutShortDoesNotMoveThePosition) {
    const Bytes bytes = {0x01, 0x02, 0x03};
    ByteReader in(bytes, "f");
    EXPECT_THROW(in.readInt32(), SetupFileError);
    EXPECT_EQ(in.position(), 0u);
    EXPECT_EQ(in.readInt16(), 0x0201);
}

struct Utf8Case {
    std::string bytes;
    bool valid;
};

class Utf8Validity : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Validity, IsJudgedCorrectly) {
    EXPECT_EQ(TextEncoding::isValidUtf8(GetParam().bytes), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Utf8Validity,
    ::testing::Values(Utf8Case{"", true}, Utf8Case{"plain", true}, Utf8Case{"\xC3\xA9", true},
                      Utf8Case{"\xE2\x82\xAC", true}, Utf8Case{"\xF0\x9F\x8E\xB9", true},
                      Utf8Case{"\xC3", false}, Utf8Case{"\xC0\xAF", false},  // overlong '/'
                      Utf8Case{"\xE0\x80\xAF", false},      // overlong, three bytes
                      Utf8Case{"\xED\xA0\x80", false},      // a surrogate
                      Utf8Case{"\xF4\x90\x80\x80", false},  // above U+10FFFF
                      Utf8Case{"\xE2\x82", false}, Utf8Case{"\x80", false},
                      Utf8Case{"\xE9t\xE9", false}));

TEST(Windows1252, UnassignedBytesKeepTheirCodePoints) {
    EXPECT_EQ(TextEncoding::windows1252ToUtf8("\x81\x8D\x8F\x90\x9D"),
              "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
    EXPECT_EQ(TextEncoding::windows1252ToUtf8("\x9F\xFF\xF7"), "\xC5\xB8\xC3\xBF\xC3\xB7");
}

}  // namespace
