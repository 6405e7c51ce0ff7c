// The log's line format, levels, pending lines, dated files and folder setup,
// on separate cLog objects (the process-wide one is covered in
// test_log_process.cpp).
#include <cstring>
#include <regex>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cChars.h"
#include "cLog.h"
#include "engine_test_support.h"

using namespace enginetest;

namespace {

cLogTime fixedTime = {2024, 1, 5, 9, 8, 7, 6};
cLogTime fixedClock() {
    return fixedTime;
}

std::string pidText() {
    return "(PID=" + std::to_string(::getpid()) + ")";
}

class LogFile : public ::testing::Test {
protected:
    void SetUp() override {
        fixedTime = {2024, 1, 5, 9, 8, 7, 6};
        log.setTimeSource(fixedClock);
        log.setLevel("ERROR");   // keeps createFolder's DEBUG line out of the file
        ASSERT_TRUE(log.createFolder(folder().c_str(), "seal.log"));
    }
    std::string folder() const { return dir / "logs"; }
    std::string dayFile() const { return folder() + "/seal.log.20240105"; }
    std::string text() const { return readAll(dayFile()); }

    TempDir dir;
    cLog log;
};

}  // namespace

TEST_F(LogFile, HeaderFieldsAndWidths) {
    fixedTime = {987, 3, 4, 5, 6, 7, 89};
    log.write(LOG_TAG_ERROR, "x");
    EXPECT_EQ(readAll(folder() + "/seal.log.09870304"), "0987/03/04 05:06:07.089 " + pidText() + " ERROR x\n");
}

TEST_F(LogFile, TagsRightAlignedInFivePlaces) {
    for (const char* tag : {LOG_TAG_DEBUG, LOG_TAG_INFO, LOG_TAG_PARAM, LOG_TAG_WARN, LOG_TAG_ERROR})
        log.write(tag, "m");
    const std::string head = "2024/01/05 09:08:07.006 " + pidText() + " ";
    EXPECT_EQ(text(), head + "DEBUG m\n" + head + " INFO m\n" + head + "PARAM m\n" + head + " WARN m\n" + head +
                          "ERROR m\n");
}

struct ValueCase {
    const char* name;
    void (*write)(cLog&);
    const char* expected;   // after the header
};

class LogValueForms : public LogFile, public ::testing::WithParamInterface<ValueCase> {};

TEST_P(LogValueForms, Written) {
    GetParam().write(log);
    const auto lines = splitLines(text());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(afterHeader(lines[0]), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, LogValueForms,
    ::testing::Values(
        ValueCase{"text", [](cLog& l) { l.writeText(LOG_TAG_INFO, "key", "value"); }, "key = value"},
        ValueCase{"emptyText", [](cLog& l) { l.writeText(LOG_TAG_INFO, "key", ""); }, "key = "},
        ValueCase{"nullText", [](cLog& l) { l.writeText(LOG_TAG_INFO, "key", static_cast<const char*>(nullptr)); },
                  "key = "},
        ValueCase{"int", [](cLog& l) { l.writeInt(LOG_TAG_INFO, "n", 1202); }, "n = 0x000004B2(1202)"},
        ValueCase{"negativeInt", [](cLog& l) { l.writeInt(LOG_TAG_INFO, "n", -1); }, "n = 0xFFFFFFFF(-1)"},
        ValueCase{"intMin", [](cLog& l) { l.writeInt(LOG_TAG_INFO, "n", INT32_MIN); },
                  "n = 0x80000000(-2147483648)"},
        ValueCase{"true", [](cLog& l) { l.writeBool(LOG_TAG_DEBUG, "b", 1); }, "b = true"},
        ValueCase{"falseZero", [](cLog& l) { l.writeBool(LOG_TAG_DEBUG, "b", 0); }, "b = false"},
        ValueCase{"twoIsFalse", [](cLog& l) { l.writeBool(LOG_TAG_DEBUG, "b", 2); }, "b = false"},
        ValueCase{"percentLiteral", [](cLog& l) { l.writeText(LOG_TAG_INFO, "100%s %d %n", "%s%%"); },
                  "100%s %d %n = %s%%"},
        ValueCase{"noValue", [](cLog& l) { l.write(LOG_TAG_WARN, "%x%p"); }, "%x%p"},
        // The level-testing calls pick the form from the value's type.
        ValueCase{"levelText", [](cLog& l) { l.error("key", std::string("value")); }, "key = value"},
        ValueCase{"levelInt", [](cLog& l) { l.error("n", 1202); }, "n = 0x000004B2(1202)"},
        ValueCase{"levelBool", [](cLog& l) { l.error("b", true); }, "b = true"},
        ValueCase{"levelBuilt",
                  [](cLog& l) { l.error([] { return cLog::format("k%d", 1); }, [] { return false; }); },
                  "k1 = false"}),
    [](const ::testing::TestParamInfo<ValueCase>& info) { return std::string(info.param.name); });

TEST_F(LogFile, DumpRowsAndPadding) {
    unsigned char bytes[20];
    for (int i = 0; i < 20; ++i) bytes[i] = static_cast<unsigned char>(0x1E + i * 3);   // spans printable edges
    bytes[19] = 0x7F;
    log.writeDump("sig", bytes, 20);
    const auto lines = splitLines(text());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(tagOf(lines[0]), "DEBUG");
    EXPECT_EQ(afterHeader(lines[0]), "sig(len=20, 0x14) = ");
    EXPECT_EQ(lines[1],
              " 0x00000000 - 1e 21 24 27 2a 2d 30 33 36 39 3c 3f 42 45 48 4b : .!$'*-0369<?BEHK");
    EXPECT_EQ(lines[2], " 0x00000010 - 4e 51 54 7f" + std::string(36, ' ') + " : NQT.");
}

TEST_F(LogFile, DumpOfExactRowsAndOfNothing) {
    std::string sixteen(32, 'a');
    log.writeDump("two", sixteen.data(), 32);
    log.writeDump("none", nullptr, 5);
    log.writeDump("zero", "abc", 0);
    log.writeDump("neg", "abc", -1);
    const auto lines = splitLines(text());
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[1], " 0x00000000 -" + std::string() + [] {
        std::string s;
        for (int i = 0; i < 16; ++i) s += " 61";
        return s;
    }() + " : " + std::string(16, 'a'));
    EXPECT_EQ(lines[2].substr(0, 13), " 0x00000010 -");
    EXPECT_EQ(afterHeader(lines[3]), "none(len=5, 0x5) = ");
    EXPECT_EQ(afterHeader(lines[4]), "zero(len=0, 0x0) = ");
    EXPECT_EQ(afterHeader(lines[5]), "neg(len=-1, 0xFFFFFFFF) = ");
}

TEST_F(LogFile, OneFilePerDay) {
    log.write(LOG_TAG_INFO, "first day");
    fixedTime = {2024, 1, 6, 0, 0, 0, 0};
    log.write(LOG_TAG_INFO, "second day");
    fixedTime = {2024, 1, 5, 23, 59, 59, 999};
    log.write(LOG_TAG_INFO, "first day again");
    EXPECT_EQ(splitLines(readAll(dayFile())).size(), 2u);
    const auto next = splitLines(readAll(folder() + "/seal.log.20240106"));
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(afterHeader(next[0]), "second day");
    EXPECT_EQ(log.fileNameFor(fixedTime), folder() + "/seal.log.20240105");
}

TEST(LogPending, LinesBeforeTheFolderStandAtTheTopOfTheFirstFile) {
    TempDir dir;
    cLog log;
    fixedTime = {2024, 1, 5, 9, 8, 7, 6};
    log.setTimeSource(fixedClock);
    log.write(LOG_TAG_DEBUG, "early one");
    log.writeInt(LOG_TAG_INFO, "early two", 2);
    EXPECT_EQ(log.getBasePath(), "");
    ASSERT_TRUE(log.createFolder((dir / "logs").c_str(), "seal.log"));
    log.write(LOG_TAG_ERROR, "first in file");
    log.write(LOG_TAG_ERROR, "second in file");
    const auto lines = splitLines(readAll(dir / "logs/seal.log.20240105"));
    std::vector<std::string> bodies;
    for (const auto& l : lines) bodies.push_back(afterHeader(l));
    // createFolder's own DEBUG line was pending too (threshold 0).
    EXPECT_EQ(bodies, (std::vector<std::string>{"early one", "early two = 0x00000002(2)",
                                                "end cFile::createFolder() return = true", "first in file",
                                                "second in file"}));
    // Written once: a flush after the first file write has nothing left.
    FILE* out = std::tmpfile();
    log.flushPending(out);
    EXPECT_EQ(std::ftell(out), 0);
    std::fclose(out);
}

TEST(LogPending, FlushWritesPendingOnceThenDropsLines) {
    cLog log;
    log.setTimeSource(fixedClock);
    log.write(LOG_TAG_INFO, "kept in memory");
    FILE* out = std::tmpfile();
    log.flushPending(out);
    log.write(LOG_TAG_INFO, "dropped");
    log.flushPending(out);
    std::rewind(out);
    char buf[256] = {};
    const size_t n = std::fread(buf, 1, sizeof buf - 1, out);
    std::fclose(out);
    const auto lines = splitLines(std::string(buf, n));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(afterHeader(lines[0]), "kept in memory");
}

TEST(LogPending, UnopenableFileDropsTheLineAndKeepsPending) {
    TempDir dir;
    cLog log;
    fixedTime = {2024, 1, 5, 9, 8, 7, 6};
    log.setTimeSource(fixedClock);
    log.write(LOG_TAG_INFO, "pending");
    // A folder where the day's file should be makes the open fail, at
    // createFolder and for the next line.
    ASSERT_EQ(::mkdir((dir / "logs").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((dir / "logs/seal.log.20240105").c_str(), 0755), 0);
    ASSERT_TRUE(log.createFolder((dir / "logs").c_str(), "seal.log"));
    log.write(LOG_TAG_INFO, "dropped");
    fixedTime.day = 6;
    log.write(LOG_TAG_INFO, "next day");
    const auto lines = splitLines(readAll(dir / "logs/seal.log.20240106"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(afterHeader(lines[0]), "pending");
    EXPECT_EQ(afterHeader(lines[1]), "end cFile::createFolder() return = true");
    EXPECT_EQ(afterHeader(lines[2]), "next day");
}

// The day's file is opened without following a symbolic link and only when it
// is a regular file; a FIFO there does not block.  The line is dropped.
TEST(LogFileSafety, LinkOrFifoAsTheDayFileIsNotWritten) {
    for (const char* kind : {"dangling link", "link", "fifo"}) {
        SCOPED_TRACE(kind);
        TempDir dir;
        cLog log;
        fixedTime = {2024, 1, 5, 9, 8, 7, 6};
        log.setTimeSource(fixedClock);
        log.setLevel("ERROR");
        ASSERT_TRUE(log.createFolder((dir / "logs").c_str(), "seal.log"));
        const std::string day = dir / "logs/seal.log.20240105";
        writeAll(dir / "target", "untouched\n");
        if (std::string(kind) == "fifo") {
            ASSERT_EQ(::mkfifo(day.c_str(), 0600), 0);
        } else {
            const std::string target = std::string(kind) == "link" ? dir / "target" : dir / "absent";
            ASSERT_EQ(::symlink(target.c_str(), day.c_str()), 0);
        }
        ::alarm(20);   // a blocking open ends the test here
        log.write(LOG_TAG_ERROR, "not through");
        ::alarm(0);
        EXPECT_EQ(readAll(dir / "target"), "untouched\n");
        struct stat st;
        EXPECT_NE(::stat((dir / "absent").c_str(), &st), 0);
    }
}

TEST(LogFileSafety, NewDayFileIsPrivateAndTheFolderMayBeALink) {
    TempDir dir;
    ASSERT_EQ(::mkdir((dir / "real").c_str(), 0755), 0);
    ASSERT_EQ(::symlink((dir / "real").c_str(), (dir / "logs").c_str()), 0);
    cLog log;
    fixedTime = {2024, 1, 5, 9, 8, 7, 6};
    log.setTimeSource(fixedClock);
    log.setLevel("ERROR");
    ASSERT_TRUE(log.createFolder((dir / "logs").c_str(), "seal.log"));
    log.write(LOG_TAG_ERROR, "through the folder link");
    const auto lines = splitLines(readAll(dir / "real/seal.log.20240105"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(afterHeader(lines[0]), "through the folder link");
    struct stat st;
    ASSERT_EQ(::stat((dir / "real/seal.log.20240105").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(LogFolder, WalksSlashesAndToleratesExistingFolders) {
    TempDir dir;
    ASSERT_EQ(::mkdir((dir / "a").c_str(), 0755), 0);
    cLog log;
    log.setTimeSource(fixedClock);
    fixedTime = {2024, 1, 5, 9, 8, 7, 6};
    const std::string path = dir / "a/b/c";
    ASSERT_TRUE(log.createFolder(path.c_str(), "seal.log"));
    EXPECT_TRUE(isDirectory(dir / "a/b"));
    EXPECT_TRUE(isDirectory(dir / "a/b/c"));
    EXPECT_TRUE(log.isFolderReady());
    // Joined with "/", so the dated file lies inside the last folder.
    EXPECT_EQ(log.getBasePath(), path + "/seal.log");
    log.write(LOG_TAG_INFO, "in c");
    EXPECT_EQ(listFolder(path), std::vector<std::string>{"seal.log.20240105"});
}

TEST(LogFolder, TrailingSlashAndRelativePath) {
    TempDir dir;
    char cwd[1024];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(::chdir(dir.path().c_str()), 0);
    cLog log;
    const bool created = log.createFolder("rel/sub/", "x.log");
    ASSERT_EQ(::chdir(cwd), 0);
    EXPECT_TRUE(created);
    EXPECT_TRUE(isDirectory(dir / "rel/sub"));
}

TEST(LogFolder, BackslashIsPartOfAFolderName) {
    TempDir dir;
    cLog log;
    ASSERT_TRUE(log.createFolder((dir / "x\\y").c_str(), "seal.log"));
    EXPECT_TRUE(isDirectory(dir / "x\\y"));
}

TEST(LogFolder, FirstFolderIsKept) {
    TempDir dir;
    cLog log;
    ASSERT_TRUE(log.createFolder((dir / "first").c_str(), "one.log"));
    EXPECT_FALSE(log.createFolder((dir / "second").c_str(), "two.log"));
    EXPECT_FALSE(isDirectory(dir / "second"));
    EXPECT_EQ(log.getBasePath(), dir / "first/one.log");
}

TEST(LogFolder, FailureLeavesTheLogInMemoryAndALaterCallRetries) {
    TempDir dir;
    writeAll(dir / "file", "not a folder");
    cLog log;
    log.setTimeSource(fixedClock);
    fixedTime = {2024, 1, 5, 9, 8, 7, 6};
    log.write(LOG_TAG_INFO, "before");
    EXPECT_FALSE(log.createFolder((dir / "file").c_str(), "seal.log"));         // exists, not a folder
    EXPECT_FALSE(log.createFolder((dir / "file/sub").c_str(), "seal.log"));     // cannot be made
    EXPECT_FALSE(log.isFolderReady());
    EXPECT_EQ(log.getBasePath(), "");
    ASSERT_TRUE(log.createFolder((dir / "ok").c_str(), "seal.log"));
    log.write(LOG_TAG_INFO, "after");
    std::vector<std::string> bodies;
    for (const auto& l : splitLines(readAll(dir / "ok/seal.log.20240105"))) bodies.push_back(afterHeader(l));
    EXPECT_EQ(bodies, (std::vector<std::string>{"before", "end cFile::createFolder() return = false",
                                                "end cFile::createFolder() return = false",
                                                "end cFile::createFolder() return = true", "after"}));
}

TEST(LogFolder, NullOrEmptyArgumentsDoNothing) {
    cLog log;
    log.setLevel("DEBUG");
    EXPECT_FALSE(log.createFolder(nullptr, "a"));
    EXPECT_FALSE(log.createFolder("", "a"));
    EXPECT_FALSE(log.createFolder("/tmp", nullptr));
    EXPECT_FALSE(log.createFolder("/tmp", ""));
    EXPECT_FALSE(log.isFolderReady());
    FILE* out = std::tmpfile();
    log.flushPending(out);
    // Only the level line: no createFolder line for rejected arguments.
    EXPECT_EQ(splitLines([&] {
                  std::rewind(out);
                  char buf[512] = {};
                  return std::string(buf, std::fread(buf, 1, sizeof buf - 1, out));
              }()).size(),
              1u);
    std::fclose(out);
}

struct LevelCase {
    const char* name;
    int expected;
    bool writesLine;
};

class LogSetLevel : public ::testing::TestWithParam<LevelCase> {};

TEST_P(LogSetLevel, SetsTheThreshold) {
    TempDir dir;
    cLog fresh;
    fresh.setTimeSource(fixedClock);
    fresh.setLevel("ERROR");
    ASSERT_TRUE(fresh.createFolder((dir / "l").c_str(), "f"));
    const std::string before = readAll(fresh.fileNameFor(fixedClock()));
    fresh.setLevel(GetParam().name);
    const int want = GetParam().expected < 0 ? LOG_LEVEL_ERROR : GetParam().expected;
    EXPECT_EQ(fresh.getLevel(), want);
    const std::string added = readAll(fresh.fileNameFor(fixedClock())).substr(before.size());
    if (GetParam().writesLine) {
        const auto lines = splitLines(added);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(tagOf(lines[0]), " INFO");
        const std::string level = want == LOG_LEVEL_DEBUG ? "DEBUG" : "INFO";
        EXPECT_EQ(afterHeader(lines[0]), utf8Big5("重設 LOG Level = ") + level);
    } else {
        EXPECT_EQ(added, "");
    }
}

INSTANTIATE_TEST_SUITE_P(Names, LogSetLevel,
                         ::testing::Values(LevelCase{"DEBUG", 10, true}, LevelCase{"debug", 10, true},
                                           LevelCase{"Info", 20, true}, LevelCase{"warn", 30, false},
                                           LevelCase{"ERROR", 40, false}, LevelCase{"oFF", 100, false},
                                           LevelCase{"TRACE", -1, false}, LevelCase{"", -1, false},
                                           LevelCase{"DEBUGX", -1, false}),
                         [](const ::testing::TestParamInfo<LevelCase>& info) {
                             return std::string(*info.param.name ? info.param.name : "empty") +
                                    std::to_string(info.index);
                         });

TEST(LogLevel, StartsAtZeroSoEveryLineIsEnabled) {
    cLog log;
    EXPECT_EQ(log.getLevel(), 0);
    EXPECT_TRUE(log.isDebug());
    log.setLevel(nullptr);
    EXPECT_EQ(log.getLevel(), 0);
}

struct ThresholdCase {
    const char* level;
    bool debug, info, warn, error;
};

class LogThreshold : public ::testing::TestWithParam<ThresholdCase> {};

TEST_P(LogThreshold, KindsEnabled) {
    cLog log;
    log.setLevel(GetParam().level);
    EXPECT_EQ(log.isDebug(), GetParam().debug);
    EXPECT_EQ(log.isInfo(), GetParam().info);
    EXPECT_EQ(log.isWarn(), GetParam().warn);
    EXPECT_EQ(log.isError(), GetParam().error);
}

// What each level-testing call writes at a threshold, and that a message or
// value given as a callable is built only for a line that is written.
TEST_P(LogThreshold, LevelCallsBuildOnlyTheLinesTheyWrite) {
    TempDir dir;
    cLog log;
    log.setTimeSource(fixedClock);
    fixedTime = {2024, 1, 5, 9, 8, 7, 6};
    log.setLevel(GetParam().level);
    ASSERT_TRUE(log.createFolder((dir / "l").c_str(), "f"));
    const std::string file = log.fileNameFor(fixedClock());
    const size_t before = readAll(file).size();

    int built = 0;
    auto msg = [&] { ++built; return std::string("m"); };
    auto value = [&] { ++built; return 7; };
    cChars bytes;
    ASSERT_TRUE(bytes.base64Encode("x", 1));   // "eA=="
    log.debug(msg, value);
    log.info(msg, value);
    log.param(msg, value);
    log.warn(msg, value);
    log.error(msg, value);
    log.dump(msg, [&]() -> const cChars& { ++built; return bytes; });
    log.debugEach(msg, [&] { ++built; return std::vector<std::string>{"a", "b"}; });

    const ThresholdCase& c = GetParam();
    std::vector<std::string> expected;
    int expectedBuilt = 0;
    const auto line = [&](bool on, const char* tagged) {
        if (!on) return;
        expected.push_back(tagged);
        expectedBuilt += 2;
    };
    line(c.debug, "DEBUG m = 0x00000007(7)");
    line(c.info, " INFO m = 0x00000007(7)");
    line(c.info, "PARAM m = 0x00000007(7)");
    line(c.warn, " WARN m = 0x00000007(7)");
    line(c.error, "ERROR m = 0x00000007(7)");
    if (c.debug) {
        expected.insert(expected.end(), {"DEBUG m(len=4, 0x4) = ", " 0x00000000 - 65 41 3d 3d" + std::string(36, ' ') +
                                                                        " : eA==", "DEBUG m = a", "DEBUG m = b"});
        expectedBuilt += 2 + 3;   // dump: bytes and message; each: the items and a message per item
    }
    std::vector<std::string> written;
    for (const auto& l : splitLines(readAll(file).substr(before))) {
        const std::string body = afterHeader(l);
        written.push_back(body.empty() ? l : tagOf(l) + " " + body);
    }
    EXPECT_EQ(written, expected);
    EXPECT_EQ(built, expectedBuilt);
}

INSTANTIATE_TEST_SUITE_P(Levels, LogThreshold,
                         ::testing::Values(ThresholdCase{"DEBUG", true, true, true, true},
                                           ThresholdCase{"INFO", false, true, true, true},
                                           ThresholdCase{"WARN", false, false, true, true},
                                           ThresholdCase{"ERROR", false, false, false, true},
                                           ThresholdCase{"OFF", false, false, false, false}));

TEST(LogClock, RealClockStampsTodayAndThePid) {
    TempDir dir;
    cLog log;
    ASSERT_TRUE(log.createFolder((dir / "l").c_str(), "f"));
    const cLogTime before = cLog::now();
    log.write(LOG_TAG_WARN, "now");
    const cLogTime after = cLog::now();
    std::string text = readAll(log.fileNameFor(before));
    if (text.empty()) text = readAll(log.fileNameFor(after));   // midnight passed
    const auto lines = splitLines(text);
    ASSERT_FALSE(lines.empty());
    const std::regex form("\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3} \\(PID=" + std::to_string(::getpid()) +
                          "\\)  WARN now");
    EXPECT_TRUE(std::regex_match(lines.back(), form)) << lines.back();
    EXPECT_GE(before.millis, 0);
    EXPECT_LE(before.millis, 999);
}
