// Code-page 950 conversion, checked against Python's cp950 codec, and the BIG5
// form of the engine's messages in the log.
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cBytes.h"
#include "cBig5.h"
#include "cCodePage.h"
#include "cLog.h"
#include "engine_test_support.h"

using namespace enginetest;

namespace {

std::string convert(const std::string& text, const char* to, bool* ok = nullptr) {
    cBytes out;
    const bool result = convertUniCodeStringToAny(text.c_str(), to, &out);
    if (ok) *ok = result;
    EXPECT_EQ(result, !out.isEmpty());
    return out.toString();
}

struct Vectors {
    std::vector<std::pair<std::string, std::string>> chars;      // cp950, UTF-16LE
    std::vector<std::pair<std::string, std::string>> messages;   // UTF-8, cp950
    std::vector<std::string> bad;
    std::string error;
};

const Vectors& pythonVectors() {
    static const Vectors vectors = [] {
        Vectors v;
        int status = 0;
        const std::string out = runCommand(std::string("'") + ENGINE_TEST_PYTHON + "' '" + ENGINE_TEST_SOURCE_DIR +
                                               "/cp950_vectors.py' '" + ENGINE_SOURCE_DIR + "'",
                                           &status);
        if (status != 0) v.error = "cp950_vectors.py failed: " + out;
        std::istringstream in(out);
        std::string kind, a, b;
        while (in >> kind) {
            if (kind == "BAD") {
                in >> a;
                v.bad.push_back(fromHex(a));
            } else {
                in >> a >> b;
                (kind == "CHAR" ? v.chars : v.messages).emplace_back(fromHex(a), fromHex(b));
            }
        }
        return v;
    }();
    return vectors;
}

}  // namespace

TEST(CodePage, AsciiToUtf16le) {
    EXPECT_EQ(toHex(convert("AB", "UTF-16LE")), "41004200");
}

TEST(CodePage, EncodingNamesIgnoreCase) {
    const std::string euro = "\xa3\xe1";
    EXPECT_EQ(toHex(convert(euro, "utf-16le")), "ac20");
    EXPECT_EQ(convert(euro, "big5"), euro);
    EXPECT_EQ(convert(euro, "Big5"), euro);
}

TEST(CodePage, Big5ValidationReturnsTheInputUnchanged) {
    // A2CC and F9F9 have twins elsewhere in code page 950; a round trip
    // through Unicode would change them.
    const std::string text = "x\xa2\xcc\xf9\xf9\xa4\xa4 \xa3\xe1";
    EXPECT_EQ(toHex(convert(text, "BIG5")), toHex(text));
}

TEST(CodePage, FailsWithoutInputOrOutput) {
    cBytes out;
    ASSERT_TRUE(out.assign("old", 3));
    EXPECT_FALSE(convertUniCodeStringToAny(nullptr, "BIG5", &out));
    EXPECT_FALSE(convertUniCodeStringToAny("", "BIG5", &out));
    EXPECT_FALSE(convertUniCodeStringToAny("abc", "BIG5", nullptr));
}

TEST(CodePage, UnknownEncodingWritesTheIconvOpenLine) {
    LogCapture capture;
    bool ok = true;
    EXPECT_EQ(convert("abc", "NO-SUCH-CODE", &ok), "");
    EXPECT_FALSE(ok);
    EXPECT_EQ(convert("abc", nullptr, &ok), "");
    EXPECT_EQ(capture.bodies("ERROR"),
              std::vector<std::string>(2, utf8Big5("iconv_open() 失敗")));
}

TEST(CodePage, OutputThatDoesNotFitFails) {
    // UTF-32 needs four bytes per ASCII byte, more than the area of twice the
    // input plus 100.
    const std::string text(200, 'a');
    bool ok = true;
    convert(text, "UTF-32LE", &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(convert(std::string(20, 'a'), "UTF-32LE").size(), 80u);
}

TEST(CodePagePython, SampleAgreesWithPythonCp950) {
    const Vectors& v = pythonVectors();
    ASSERT_EQ(v.error, "");
    ASSERT_GE(v.chars.size(), 300u);
    std::string allBig5, allUtf16;
    bool sawEuro = false;
    for (const auto& c : v.chars) {
        EXPECT_EQ(toHex(convert(c.first, "UTF-16LE")), toHex(c.second)) << "cp950 " << toHex(c.first);
        EXPECT_EQ(convert(c.first, "BIG5"), c.first) << "cp950 " << toHex(c.first);
        allBig5 += c.first;
        allUtf16 += c.second;
        sawEuro |= c.first == "\xa3\xe1";
    }
    EXPECT_TRUE(sawEuro);
    // And all of them in one call.
    EXPECT_EQ(convert(allBig5, "UTF-16LE"), allUtf16);
    EXPECT_EQ(convert(allBig5, "BIG5"), allBig5);
}

TEST(CodePagePython, InvalidSequencesFail) {
    const Vectors& v = pythonVectors();
    ASSERT_EQ(v.error, "");
    ASSERT_FALSE(v.bad.empty());
    for (const auto& bad : v.bad) {
        for (const char* to : {"BIG5", "UTF-16LE"}) {
            bool ok = true;
            EXPECT_EQ(convert(bad, to, &ok), "") << toHex(bad) << " to " << to;
            EXPECT_FALSE(ok);
        }
    }
}

TEST(CodePagePython, EngineMessagesAreBig5) {
    const Vectors& v = pythonVectors();
    ASSERT_EQ(v.error, "");
    ASSERT_FALSE(v.messages.empty());
    for (const auto& m : v.messages) EXPECT_EQ(toHex(utf8Big5(m.first.c_str())), toHex(m.second)) << m.first;
}

TEST(CodePage, Utf8WithoutABig5FormBecomesQuestionMarks) {
    EXPECT_EQ(utf8Big5("a\xf0\x9f\x98\x80" "b"), "a?b");   // an emoji
    EXPECT_EQ(utf8Big5("x\xc3(y"), "x?(y");                   // broken UTF-8
    EXPECT_STREQ(big5Literal(nullptr), "");
}

TEST(CodePagePython, LogLineReadsBackAsChineseWithCp950) {
    TempDir dir;
    cLog log;
    ASSERT_TRUE(log.createFolder((dir / "logs").c_str(), "seal.log"));
    log.setLevel("debug");
    const std::string file = log.fileNameFor(cLog::now());
    int status = 0;
    const std::string decoded =
        runCommand(std::string("'") + ENGINE_TEST_PYTHON +
                       "' -c 'import sys; sys.stdout.buffer.write(open(sys.argv[1], \"rb\").read()"
                       ".decode(\"cp950\").encode(\"utf-8\"))' '" + file + "'",
                   &status);
    ASSERT_EQ(status, 0);
    const auto lines = splitLines(decoded);
    ASSERT_EQ(lines.size(), 2u);   // createFolder's DEBUG line, then the level line
    EXPECT_EQ(afterHeader(lines[1]), "重設 LOG Level = DEBUG");
}
