// Byte and text buffers: base64 both ways, hexadecimal, case-insensitive
// comparison, whole-file reads.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "cBytes.h"
#include "cChars.h"
#include "cFile.h"
#include "engine_test_support.h"

using namespace enginetest;

namespace {

// Every buffer keeps two zero bytes after its meaningful ones.
void expectTerminated(const cBuffer& b) {
    if (b.getData() == nullptr) return;
    EXPECT_EQ(b.getData()[b.getLength()], 0);
    EXPECT_EQ(b.getData()[b.getLength() + 1], 0);
}

std::string decode(const char* text, bool* ok = nullptr) {
    cBytes bytes;
    const bool result = bytes.base64Decode(text);
    if (ok) *ok = result;
    expectTerminated(bytes);
    EXPECT_EQ(result, !bytes.isEmpty());
    return bytes.toString();
}

}  // namespace

struct EncodeCase {
    std::string plain;
    const char* base64;
};

class Base64Encode : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(Base64Encode, StandardAlphabetWithPadding) {
    cChars text;
    ASSERT_TRUE(text.base64Encode(GetParam().plain.data(), static_cast<int>(GetParam().plain.size())));
    EXPECT_STREQ(text.c_str(), GetParam().base64);
    EXPECT_EQ(text.getLength(), static_cast<int>(std::strlen(GetParam().base64)));
    expectTerminated(text);
}

INSTANTIATE_TEST_SUITE_P(Vectors, Base64Encode,
                         ::testing::Values(EncodeCase{"abc", "YWJj"}, EncodeCase{"ab", "YWI="},
                                           EncodeCase{"a", "YQ=="}, EncodeCase{"abcd", "YWJjZA=="},
                                           EncodeCase{std::string("\xfb\xff\xbf", 3), "+/+/"},
                                           EncodeCase{std::string("\0\0\0\0", 4), "AAAAAA=="},
                                           EncodeCase{"foobar", "Zm9vYmFy"}));

TEST(Base64Encode, RejectsNothingToEncode) {
    cChars text;
    ASSERT_TRUE(text.base64Encode("x", 1));
    EXPECT_FALSE(text.base64Encode(nullptr, 3));
    EXPECT_TRUE(text.isEmpty());   // the old content was released
    EXPECT_FALSE(text.base64Encode("abc", 0));
    EXPECT_FALSE(text.base64Encode("abc", -1));
}

TEST(Base64, RoundTripsEveryLengthAndByte) {
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    for (size_t n = 1; n <= all.size(); n += 17) {
        cChars text;
        ASSERT_TRUE(text.base64Encode(all.data(), static_cast<int>(n)));
        EXPECT_EQ(decode(text.c_str()), all.substr(0, n));
    }
}

struct DecodeCase {
    const char* name;
    const char* text;
    std::string bytes;   // empty: decoding fails
};

class Base64Decode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Base64Decode, Decodes) {
    bool ok = false;
    const std::string got = decode(GetParam().text, &ok);
    EXPECT_EQ(ok, !GetParam().bytes.empty());
    EXPECT_EQ(toHex(got), toHex(GetParam().bytes));
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, Base64Decode,
    ::testing::Values(
        DecodeCase{"plain", "YWJj", "abc"}, DecodeCase{"space", "YW Jj", "abc"},
        DecodeCase{"crlf", "YW\r\nJj", "abc"}, DecodeCase{"leadingAndTrailingSpace", "  YWJj \n", "abc"},
        DecodeCase{"onePad", "YWI=", "ab"}, DecodeCase{"twoPads", "YQ==", "a"},
        DecodeCase{"missingPad", "YWI", "ab"}, DecodeCase{"padEndsOnlyItsGroup", "YQ==YWJj", "aabc"},
        DecodeCase{"loneSymbol", "YWJjZ", "abcd"},
        // A tab is not skipped and, like any byte outside the alphabet, counts as "B" (value 1).
        DecodeCase{"outsideAlphabet", "YW*j", "a`c"}, DecodeCase{"tab", "YW\tj", "a`c"},
        DecodeCase{"allPads", "====", std::string(1, '\0')}, DecodeCase{"empty", "", ""},
        DecodeCase{"onlyWhiteSpace", " \r\n ", ""},
        DecodeCase{"armour", "-----BEGIN CERTIFICATE-----\r\nYWJj\r\nZGVm\r\n-----END CERTIFICATE-----\r\n",
                   "abcdef"},
        DecodeCase{"armourNoLineBreaks", "-----BEGIN X-----YWJj-----END X-----", "abc"},
        DecodeCase{"onlyBeginMarker", "-----BEGIN CERTIFICATE-----\nYWJj\n", ""},
        DecodeCase{"dashesOnly", "-----", ""}),
    [](const ::testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.name); });

TEST(Base64Decode, UnbalancedArmourWritesItsErrorLine) {
    LogCapture capture;
    EXPECT_EQ(decode("-----BEGIN CERTIFICATE-----\nYWJj\n"), "");
    EXPECT_EQ(decode("-----BEGIN"), "");
    EXPECT_EQ(decode(nullptr), "");   // no line
    EXPECT_EQ(capture.bodies("ERROR"),
              (std::vector<std::string>{utf8Big5("cBytes::base64Decode() ----- END 不對稱"),
                                        utf8Big5("cBytes::base64Decode() ----- BEGIN 不對稱")}));
}

TEST(Base64Decode, ReleasesOldContentOnFailure) {
    cBytes bytes;
    ASSERT_TRUE(bytes.base64Decode("YWJj"));
    EXPECT_FALSE(bytes.base64Decode(""));
    EXPECT_EQ(bytes.getData(), nullptr);
    EXPECT_EQ(bytes.getLength(), 0);
}

struct HexCase {
    std::string bytes;
    const char* hex;
};

class HexEncode : public ::testing::TestWithParam<HexCase> {};

TEST_P(HexEncode, UpperCasePairs) {
    cChars text;
    ASSERT_TRUE(text.hexEncode(GetParam().bytes.data(), static_cast<int>(GetParam().bytes.size())));
    EXPECT_STREQ(text.c_str(), GetParam().hex);
    EXPECT_EQ(text.getLength(), 2 * static_cast<int>(GetParam().bytes.size()));
    expectTerminated(text);
}

INSTANTIATE_TEST_SUITE_P(Vectors, HexEncode,
                         ::testing::Values(HexCase{"\x0a\xff", "0AFF"}, HexCase{std::string(1, '\0'), "00"},
                                           HexCase{"\x12\x34\xab\xcd\xef", "1234ABCDEF"}));

TEST(HexEncode, RejectsNothingToEncode) {
    cChars text;
    EXPECT_FALSE(text.hexEncode(nullptr, 2));
    EXPECT_FALSE(text.hexEncode("ab", 0));
    EXPECT_FALSE(text.hexEncode("ab", -5));
    EXPECT_TRUE(text.isEmpty());
}

struct CompareCase {
    const char* a;
    const char* b;
    bool equal;
};

class EqualsIgnoreCase : public ::testing::TestWithParam<CompareCase> {};

TEST_P(EqualsIgnoreCase, Compares) {
    EXPECT_EQ(cChars::equalsIgnoreCase(GetParam().a, GetParam().b), GetParam().equal);
    EXPECT_EQ(cChars::equalsIgnoreCase(GetParam().b, GetParam().a), GetParam().equal);
}

INSTANTIATE_TEST_SUITE_P(Pairs, EqualsIgnoreCase,
                         ::testing::Values(CompareCase{"utf-16le", "UTF-16LE", true}, CompareCase{"", "", true},
                                           CompareCase{"BIG5", "BIG", false}, CompareCase{"abc", "abd", false},
                                           CompareCase{nullptr, "", false}, CompareCase{nullptr, nullptr, false},
                                           // Bytes above 0x7F (BIG5 lead bytes) are compared exactly.
                                           CompareCase{"\xa4\xe5", "\xa4\xc5", false},
                                           CompareCase{"\xa4\x61", "\xa4\x41", true}));

TEST(Buffer, MoveTransfersOwnership) {
    cBytes a;
    ASSERT_TRUE(a.assign("xyz", 3));
    cBytes b(std::move(a));
    EXPECT_EQ(a.getData(), nullptr);
    EXPECT_EQ(b.toString(), "xyz");
    expectTerminated(b);
    cBytes c;
    c = std::move(b);
    EXPECT_EQ(c.toString(), "xyz");
    EXPECT_FALSE(c.assign(nullptr, 2));
    EXPECT_TRUE(c.isEmpty());
}

class FileRead : public ::testing::Test {
protected:
    TempDir dir;
};

TEST_F(FileRead, WholeFileWithBinaryBytes) {
    std::string content("a\0b\r\n\xff", 6);
    writeAll(dir / "f.bin", content);
    cFile file;
    ASSERT_TRUE(file.loadFromFile((dir / "f.bin").c_str()));
    EXPECT_EQ(file.toString(), content);
    expectTerminated(file);
}

TEST_F(FileRead, EmptyFileSucceedsWithNoData) {
    writeAll(dir / "empty", "");
    cFile file;
    ASSERT_TRUE(file.assign("old", 3));
    LogCapture capture;
    EXPECT_TRUE(file.loadFromFile((dir / "empty").c_str()));
    EXPECT_EQ(file.getData(), nullptr);
    EXPECT_EQ(file.getLength(), 0);
    EXPECT_EQ(capture.bodies("DEBUG"), std::vector<std::string>{"end cFile::loadFromFile() return = true"});
}

TEST_F(FileRead, MissingFileWritesOpenFile) {
    const std::string path = dir / "missing";
    cFile file;
    LogCapture capture;
    EXPECT_FALSE(file.loadFromFile(path.c_str()));
    EXPECT_EQ(file.getData(), nullptr);
    EXPECT_EQ(capture.bodies("ERROR"), std::vector<std::string>{"Open file = " + path});
    EXPECT_EQ(capture.bodies("DEBUG"), std::vector<std::string>{"end cFile::loadFromFile() return = false"});
}

TEST_F(FileRead, UnreadableFileWritesReadFileSize) {
    // A folder opens but cannot be read.
    cFile file;
    LogCapture capture;
    EXPECT_FALSE(file.loadFromFile(dir.path().c_str()));
    EXPECT_EQ(file.getData(), nullptr);
    const auto errors = capture.bodies("ERROR");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Read file size = 0x00000000(0)");
}

TEST_F(FileRead, FifoAndDevicesAreRefusedWithoutWaiting) {
    // Opening a FIFO for reading waits for a writer; reading a device may
    // never end. Neither is read: the call returns at once.
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero")}) {
        cFile file;
        size_t got = 7;
        EXPECT_EQ(cFile::readRegular(path.c_str(), file, got), cFile::NotReadable) << path;
        EXPECT_EQ(got, 0u);
        LogCapture capture;
        EXPECT_FALSE(file.loadFromFile(path.c_str()));
        EXPECT_EQ(capture.bodies("ERROR"), std::vector<std::string>{"Read file size = 0x00000000(0)"});
    }
    cFile file;
    size_t got = 0;
    EXPECT_EQ(cFile::readRegular((dir / "missing").c_str(), file, got), cFile::OpenFailed);
}

TEST_F(FileRead, NullOrEmptyPathFails) {
    cFile file;
    EXPECT_FALSE(file.loadFromFile(nullptr));
    EXPECT_FALSE(file.loadFromFile(""));
}
