// The process-wide log.  Every test runs its scenario in a forked child, so
// the child starts from this process's log, which no test here configures:
// each scenario sees the log as a fresh process does.
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cFile.h"
#include "cLog.h"
#include "engine_test_support.h"

using namespace enginetest;

namespace {

struct ChildRun {
    int code = -1;     // exit status, or 128 + signal
    std::string out;   // what the child wrote to standard output
    std::string err;   // ... and to standard error
};

// Waits for `pid`; its exit status, or 128 + the signal that ended it.
int waitFor(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs `scenario` in a child that then exits normally (so exit handlers run).
// A child still running after 30 s is ended by SIGALRM: a hang fails.
template <typename F>
ChildRun runInChild(F scenario) {
    TempDir io;
    const std::string outName = io / "out", errName = io / "err";
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(outName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0) ::_exit(99);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::alarm(30);
        std::exit(scenario());
    }
    ChildRun run;
    run.code = waitFor(pid);
    run.out = readAll(outName);
    run.err = readAll(errName);
    return run;
}

std::vector<std::string> bodiesOf(const std::string& text) {
    std::vector<std::string> bodies;
    for (const auto& l : splitLines(text)) bodies.push_back(afterHeader(l));
    return bodies;
}

cLogTime fixedClock() {
    return cLogTime{2024, 1, 5, 9, 8, 7, 6};
}

}  // namespace

TEST(ProcessLog, UnconfiguredLogWritesEverythingToStderrAtExit) {
    const ChildRun run = runInChild([] {
        cLog& log = cLog::instance();
        if (log.getLevel() != 0 || !log.isDebug()) return 3;
        log.write(LOG_TAG_DEBUG, "early debug");
        log.writeText(LOG_TAG_PARAM, "propertyFile", "p7Sign.properties");
        return 0;
    });
    ASSERT_EQ(run.code, 0);
    EXPECT_EQ(run.out, "");   // standard output belongs to the program
    const auto lines = splitLines(run.err);
    ASSERT_EQ(lines.size(), 2u) << run.err;
    EXPECT_EQ(tagOf(lines[0]), "DEBUG");
    EXPECT_EQ(afterHeader(lines[0]), "early debug");
    EXPECT_EQ(afterHeader(lines[1]), "propertyFile = p7Sign.properties");
}

TEST(ProcessLog, FirstFolderTakesPendingLinesAndIsKept) {
    TempDir dir;
    const std::string first = dir / "logs/sub";
    const std::string second = dir / "other";
    const ChildRun run = runInChild([&] {
        cLog& log = cLog::instance();
        log.write(LOG_TAG_INFO, "before the folder");
        if (!cFile::createFolder(first.c_str(), "seal.log")) return 3;
        log.setLevel("warn");
        if (cFile::createFolder(second.c_str(), "other.log")) return 4;
        log.write(LOG_TAG_ERROR, "after the folder");
        return 0;
    });
    ASSERT_EQ(run.code, 0);
    EXPECT_EQ(run.out + run.err, "");   // pending went to the file
    EXPECT_FALSE(isDirectory(second));
    const auto files = listFolder(first);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].substr(0, 9), "seal.log.");
    EXPECT_EQ(files[0].size(), 17u);
    // The second createFolder writes nothing: the folder was already set.
    EXPECT_EQ(bodiesOf(readAll(first + "/" + files[0])),
              (std::vector<std::string>{"before the folder", "end cFile::createFolder() return = true",
                                        "after the folder"}));
}

// At a threshold that lets no later line through (the session's WARN), the
// lines held from before the threshold was read still reach the day's file,
// as they were written, when the folder is set.
TEST(ProcessLog, HeldLinesReachTheFileWhenTheFolderIsSet) {
    TempDir dir;
    const std::string folder = dir / "logs";
    const ChildRun run = runInChild([&] {
        cLog& log = cLog::instance();
        log.setTimeSource(fixedClock);
        log.write(LOG_TAG_DEBUG, "held debug");
        log.write(LOG_TAG_INFO, "held info");
        log.setLevel("WARN");
        if (!cFile::createFolder(folder.c_str(), "seal.log")) return 3;
        // In the file already, not only at exit.
        return bodiesOf(readAll(folder + "/seal.log.20240105")) ==
                       std::vector<std::string>{"held debug", "held info"}
                   ? 0
                   : 4;
    });
    ASSERT_EQ(run.code, 0);
    EXPECT_EQ(run.out + run.err, "");
    EXPECT_EQ(bodiesOf(readAll(folder + "/seal.log.20240105")),
              (std::vector<std::string>{"held debug", "held info"}));
}

TEST(ProcessLog, FailedFolderKeepsLinesForStderr) {
    TempDir dir;
    writeAll(dir / "file", "x");
    const ChildRun run = runInChild([&] {
        cLog::instance().write(LOG_TAG_WARN, "kept");
        return cFile::createFolder((dir / "file/logs").c_str(), "seal.log") ? 3 : 0;
    });
    ASSERT_EQ(run.code, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(bodiesOf(run.err), (std::vector<std::string>{"kept", "end cFile::createFolder() return = false"}));
}

// A day's file that is a symbolic link is not written through, neither when
// the folder is set nor at exit: the held lines end on standard error.
TEST(ProcessLog, DayFileThatIsALinkLeavesHeldLinesForStderr) {
    TempDir dir;
    const std::string folder = dir / "logs";
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    writeAll(dir / "target", "untouched\n");
    ASSERT_EQ(::symlink((dir / "target").c_str(), (folder + "/seal.log.20240105").c_str()), 0);
    const ChildRun run = runInChild([&] {
        cLog& log = cLog::instance();
        log.setTimeSource(fixedClock);
        log.write(LOG_TAG_INFO, "held");
        log.setLevel("ERROR");
        return cFile::createFolder(folder.c_str(), "seal.log") ? 0 : 3;
    });
    ASSERT_EQ(run.code, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(bodiesOf(run.err), (std::vector<std::string>{"held"}));
    EXPECT_EQ(readAll(dir / "target"), "untouched\n");
}

// fork() while another thread is inside a line write: the child still writes
// its own lines and exits (its log lock is free).
TEST(ProcessLog, ChildOfAForkDuringAWriteLogsAndExits) {
    TempDir dir;
    const std::string folder = dir / "logs";
    const ChildRun run = runInChild([&] {
        cLog& log = cLog::instance();
        log.setTimeSource(fixedClock);
        if (!cFile::createFolder(folder.c_str(), "seal.log")) return 3;
        std::atomic<bool> stop{false};
        std::thread writer([&] {
            while (!stop.load()) log.write(LOG_TAG_INFO, "parent thread");
        });
        int failures = 0;
        for (int i = 0; i < 40 && failures == 0; ++i) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::alarm(10);
                log.write(LOG_TAG_ERROR, "child line");
                log.flushAtExit();   // what exit() does, without leak reports
                ::_exit(0);          // for the parent thread's half-built line
            }
            if (waitFor(pid) != 0) ++failures;
        }
        stop = true;
        writer.join();
        return failures == 0 ? 0 : 4;
    });
    ASSERT_EQ(run.code, 0) << run.err;
    size_t childLines = 0;
    for (const auto& body : bodiesOf(readAll(folder + "/seal.log.20240105"))) childLines += body == "child line";
    EXPECT_EQ(childLines, 40u);
}
