// The process-wide log.  Every test runs its scenario in a forked child, so
// the child starts from this process's log, which no test here configures:
// each scenario sees the log as a fresh process does.
#include <cstdlib>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "engine/cFile.h"
#include "engine/cLog.h"
#include "engine_test_support.h"

using namespace enginetest;

namespace {

// Runs `scenario` in a child that then exits normally (so exit handlers run);
// returns what the child wrote to standard output.
template <typename F>
std::string runInChild(F scenario, int* exitCode) {
    int fds[2];
    if (::pipe(fds) != 0) return "pipe failed";
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[1]);
        const int code = scenario();
        std::exit(code);
    }
    ::close(fds[1]);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return out;
}

}  // namespace

TEST(ProcessLog, UnconfiguredLogWritesEverythingToStdoutAtExit) {
    int code = -1;
    const std::string out = runInChild(
        [] {
            cLog& log = cLog::instance();
            if (log.getLevel() != 0 || !log.isDebug()) return 3;
            log.write(LOG_TAG_DEBUG, "early debug");
            log.writeText(LOG_TAG_PARAM, "propertyFile", "p7Sign.properties");
            return 0;
        },
        &code);
    ASSERT_EQ(code, 0);
    const auto lines = splitLines(out);
    ASSERT_EQ(lines.size(), 2u) << out;
    EXPECT_EQ(tagOf(lines[0]), "DEBUG");
    EXPECT_EQ(afterHeader(lines[0]), "early debug");
    EXPECT_EQ(afterHeader(lines[1]), "propertyFile = p7Sign.properties");
}

TEST(ProcessLog, FirstFolderTakesPendingLinesAndIsKept) {
    TempDir dir;
    const std::string first = dir / "logs/sub";
    const std::string second = dir / "other";
    int code = -1;
    const std::string out = runInChild(
        [&] {
            cLog& log = cLog::instance();
            log.write(LOG_TAG_INFO, "before the folder");
            if (!cFile::createFolder(first.c_str(), "seal.log")) return 3;
            log.setLevel("warn");
            if (cFile::createFolder(second.c_str(), "other.log")) return 4;
            log.write(LOG_TAG_ERROR, "after the folder");
            return 0;
        },
        &code);
    ASSERT_EQ(code, 0);
    EXPECT_EQ(out, "");   // pending went to the file, nothing is left for stdout
    EXPECT_FALSE(isDirectory(second));
    const auto files = listFolder(first);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].substr(0, 9), "seal.log.");
    EXPECT_EQ(files[0].size(), 17u);
    const auto lines = splitLines(readAll(first + "/" + files[0]));
    std::vector<std::string> bodies;
    for (const auto& l : lines) bodies.push_back(afterHeader(l));
    // The second createFolder writes nothing: the folder was already set.
    EXPECT_EQ(bodies, (std::vector<std::string>{"before the folder", "end cFile::createFolder() return = true",
                                                "after the folder"}));
}

TEST(ProcessLog, FailedFolderKeepsLinesForStdout) {
    TempDir dir;
    writeAll(dir / "file", "x");
    int code = -1;
    const std::string out = runInChild(
        [&] {
            cLog::instance().write(LOG_TAG_WARN, "kept");
            return cFile::createFolder((dir / "file/logs").c_str(), "seal.log") ? 3 : 0;
        },
        &code);
    ASSERT_EQ(code, 0);
    const auto lines = splitLines(out);
    ASSERT_EQ(lines.size(), 2u) << out;
    EXPECT_EQ(afterHeader(lines[0]), "kept");
    EXPECT_EQ(afterHeader(lines[1]), "end cFile::createFolder() return = false");
}
