// Process-wide log of the signing engine.
//
// Lines are stamped with local date, time, milliseconds and process id, filtered
// by a numeric threshold that the caller tests, and appended to one file per
// day once the folder is known.  Until then they collect in memory; they go to
// the top of the day's file as soon as the folder is set (or, when that file
// cannot be opened, ahead of the first line that reaches one).  The log writes
// nothing to standard output: lines that never reach a file are written to
// standard error when the process ends.  The day's file is never opened
// through a symbolic link and must be a regular file (see cOpen.h).
//
// Message and value texts are byte strings written unchanged (the engine's own
// messages are BIG5, see cCodePage.h); a "%" in them is never a directive.
//
// Usage:
//     cLog& log = cLog::instance();
//     if (log.isDebug()) log.writeText(LOG_TAG_DEBUG, "Insert MAP Name", name);
//
// The write operations themselves write unconditionally; callers test the level
// first so that suppressed lines cost no formatting.  Nothing here throws.
#ifndef ORVANE_ENGINE_CLOG_H
#define ORVANE_ENGINE_CLOG_H

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

// Thresholds (the value stored by setLevel) and the level of each kind of line.
enum : int {
    LOG_LEVEL_DEBUG = 10,
    LOG_LEVEL_INFO = 20,   // also PARAM lines
    LOG_LEVEL_WARN = 30,
    LOG_LEVEL_ERROR = 40,
    LOG_LEVEL_OFF = 100,
};

// Tags written in the line header (right-aligned in five places).
#define LOG_TAG_DEBUG "DEBUG"
#define LOG_TAG_INFO "INFO"
#define LOG_TAG_PARAM "PARAM"
#define LOG_TAG_WARN "WARN"
#define LOG_TAG_ERROR "ERROR"

// The moment a line is stamped with, in local time.
struct cLogTime {
    int year;    // e.g. 2024
    int month;   // 1..12
    int day;     // 1..31
    int hour;
    int minute;
    int second;
    int millis;  // 0..999
};

class cLog {
public:
    // The one log of the process.  Created on first use (a static initialiser
    // in cLog.cpp uses it at load time, before any other engine code runs) and
    // never destroyed, so objects destroyed at exit may still log; pending lines
    // are written out at exit (flushAtExit).  A child made by fork() gets the
    // log with its lock free.
    static cLog& instance();

    // A separate log object (tests use these; the engine uses instance()).
    cLog();
    virtual ~cLog();
    cLog(const cLog&) = delete;
    cLog& operator=(const cLog&) = delete;

    // ---- threshold ---------------------------------------------------------
    int getLevel() const { return level.load(std::memory_order_relaxed); }
    // "DEBUG", "INFO", "WARN", "ERROR", "OFF" in any letter case; anything else
    // (or null/empty) leaves the level unchanged.  DEBUG and INFO write the INFO
    // line "重設 LOG Level = DEBUG" / "... = INFO".
    void setLevel(const char* name);
    bool isEnabled(int kindLevel) const { return getLevel() <= kindLevel; }
    bool isDebug() const { return isEnabled(LOG_LEVEL_DEBUG); }
    bool isInfo() const { return isEnabled(LOG_LEVEL_INFO); }   // INFO and PARAM
    bool isWarn() const { return isEnabled(LOG_LEVEL_WARN); }
    bool isError() const { return isEnabled(LOG_LEVEL_ERROR); }

    // ---- unconditional writes (the caller tests the level) -----------------
    // header, message
    void write(const char* tag, const char* msg);
    // header, message, " = ", value
    void writeText(const char* tag, const char* msg, const char* value);
    void writeText(const char* tag, const char* msg, const std::string& value);
    // header, message, " = 0x%08X(%d)"
    void writeInt(const char* tag, const char* msg, int value);
    // header, message, " = true" when value is exactly 1, else " = false"
    void writeBool(const char* tag, const char* msg, int value);
    // DEBUG header, message, "(len=%d, 0x%X) = ", then rows of 16 bytes
    void writeDump(const char* msg, const void* data, int length);

    // printf-style formatting of a message text (for messages such as
    // "cProperty::getProperty() : %s").  Never throws; "" on failure.
    static std::string format(const char* fmt, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 1, 2)))
#endif
        ;

    // ---- log file ------------------------------------------------------------
    // Creates the folders of `path` (walking "/", existing folders are fine),
    // writes the DEBUG line "end cFile::createFolder() return" and on success
    // sets the base path to path + "/" + fileName, then writes the pending
    // lines to the day's file.  Returns false and does nothing when the folder
    // is already set or an argument is null/empty.  The first success is kept
    // for the life of the object.
    bool createFolder(const char* path, const char* fileName);
    bool isFolderReady() const;
    std::string getBasePath() const;       // "" until the folder is ready
    // The file a line stamped `t` goes to: basePath + ".YYYYMMDD" ("" if none).
    std::string fileNameFor(const cLogTime& t) const;

    // Lines kept in memory while no log folder is set stop at this many bytes;
    // later ones are dropped until a folder exists.  A folder that cannot be
    // created would otherwise let a long-running process grow without bound.
    static constexpr size_t kPendingLimit = size_t(1) << 20;

    // Writes whatever is still pending to `out` and releases the buffer.
    void flushPending(std::FILE* out);
    // What instance() does at process exit: whatever is still pending goes to
    // the day's file when a folder is set, else (or when that file cannot be
    // opened) to standard error; then the buffer is released.
    void flushAtExit();

    // ---- clock ----------------------------------------------------------------
    // The clock lines are stamped with; nullptr restores the system clock.
    // Tests set a fixed clock to check the per-day file names.
    using TimeSource = cLogTime (*)();
    void setTimeSource(TimeSource source);
    static cLogTime now();   // local time with milliseconds, from one reading

private:
    void emit(const char* tag, const char* msg, const char* tail, size_t tailLen);
    cLogTime stamp() const;   // the current moment by the time source
    void writeLine(const cLogTime& t, const std::string& line);
    // These four expect `lock` held.
    std::string dayFileName(const cLogTime& t) const;   // "" without a folder
    // The day's file of `t` opened for appending, or nullptr.
    std::FILE* openDayFile(const cLogTime& t) const;
    // Writes the pending text to `out` (unless null) and releases it.
    void releasePendingInto(std::FILE* out);
    // Pending lines to the day's file of `t`; false when it cannot be opened.
    bool writePendingToFile(const cLogTime& t);
    std::string header(const cLogTime& t, const char* tag) const;

    std::atomic<int> level{0};
    std::atomic<TimeSource> timeSource{nullptr};
    mutable std::mutex lock;    // guards everything below and each line write
    bool folderReady = false;
    std::string basePath;
    std::string pending;
    bool pendingReleased = false;
};

#endif
