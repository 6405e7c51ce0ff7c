// Process-wide log of the signing engine.
//
// Lines are stamped with local date, time, milliseconds and process id, filtered
// by a numeric threshold, and appended to one file per day once the folder is
// known.  Until then they collect in memory; they go to
// the top of the day's file as soon as the folder is set (or, when that file
// cannot be opened, ahead of the first line that reaches one).  The log writes
// nothing to standard output: lines that never reach a file are written to
// standard error when the process ends.  The day's file is never opened
// through a symbolic link and must be a regular file (see cOpen.h).
//
// Message and value texts are byte strings written unchanged (the engine's own
// messages are BIG5, see cBig5.h); a "%" in them is never a directive.
//
// Usage:
//     cLog& log = cLog::instance();
//     log.debug("Insert MAP Name", name);
//     log.error(BIG5_MSG("找不到 PFX.pswdB64"));
//     log.debug([&] { return cLog::format("cProperty::getProperty() : %s", name); }, value);
//
// debug(), info(), param(), warn(), error() and dump() test the threshold
// first and build nothing below it: a message or value given as a callable is
// called only when its line is written.  The write...() operations underneath
// write unconditionally.  Nothing here throws.
#ifndef ORVANE_ENGINE_CLOG_H
#define ORVANE_ENGINE_CLOG_H

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <type_traits>

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

    // ---- lines tested against the threshold ----------------------------------
    // Each writes its line only when the threshold lets its kind through, and
    // otherwise evaluates nothing it was given.  `msg` is text (const char* or
    // std::string); `value`, when given, is text, an int (" = 0x%08X(%d)") or a
    // bool (" = true" / " = false").  Either may instead be a callable that
    // returns one of these; it is called only when the line is written, so a
    // message or value that costs something to build (cLog::format, a
    // concatenation, a certificate rendering, a BIG5 conversion) costs nothing
    // below the threshold.  BIG5_MSG(...) is such a callable.
    template <class Msg, class... Value>
    void debug(const Msg& msg, const Value&... value) noexcept {
        line(LOG_LEVEL_DEBUG, LOG_TAG_DEBUG, msg, value...);
    }
    template <class Msg, class... Value>
    void info(const Msg& msg, const Value&... value) noexcept {
        line(LOG_LEVEL_INFO, LOG_TAG_INFO, msg, value...);
    }
    // An input parameter: tagged PARAM, written under the INFO threshold.
    template <class Msg, class... Value>
    void param(const Msg& msg, const Value&... value) noexcept {
        line(LOG_LEVEL_INFO, LOG_TAG_PARAM, msg, value...);
    }
    template <class Msg, class... Value>
    void warn(const Msg& msg, const Value&... value) noexcept {
        line(LOG_LEVEL_WARN, LOG_TAG_WARN, msg, value...);
    }
    template <class Msg, class... Value>
    void error(const Msg& msg, const Value&... value) noexcept {
        line(LOG_LEVEL_ERROR, LOG_TAG_ERROR, msg, value...);
    }
    // One DEBUG line "msg = item" for each text of `items` (a container, or a
    // callable returning one).
    template <class Msg, class Items>
    void debugEach(const Msg& msg, const Items& items) noexcept {
        if (!isDebug()) return;
        try {
            for (const auto& item : resolve(items)) put(LOG_TAG_DEBUG, text(resolve(msg)), item);
        } catch (...) {
        }
    }
    // The DEBUG dump of `length` bytes at `data` (see writeDump).
    template <class Msg>
    void dump(const Msg& msg, const void* data, int length) noexcept {
        if (!isDebug()) return;
        try {
            writeDump(text(resolve(msg)), data, length);
        } catch (...) {
        }
    }
    // The same for a buffer (getData(), getLength()), or a callable returning
    // one: e.g. bytes converted for the dump alone.
    template <class Msg, class Buffer>
    void dump(const Msg& msg, const Buffer& bytes) noexcept {
        if (!isDebug()) return;
        try {
            const auto& buffer = resolve(bytes);
            writeDump(text(resolve(msg)), buffer.getData(), buffer.getLength());
        } catch (...) {
        }
    }

    // ---- unconditional writes ------------------------------------------------
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
    template <class Msg, class... Value>
    void line(int kindLevel, const char* tag, const Msg& msg, const Value&... value) noexcept {
        static_assert(sizeof...(Value) <= 1, "a log line carries at most one value");
        if (!isEnabled(kindLevel)) return;
        try {
            put(tag, text(resolve(msg)), resolve(value)...);
        } catch (...) {
            // A message or value that cannot be built drops its line.
        }
    }
    // x() when x is a callable, else x itself.
    template <class T>
    static decltype(auto) resolve(const T& x) {
        if constexpr (std::is_invocable_v<const T&>)
            return x();
        else
            return (x);
    }
    static const char* text(const char* s) { return s; }
    static const char* text(const std::string& s) { return s.c_str(); }
    // The line form that fits the value's type.
    void put(const char* tag, const char* msg) { write(tag, msg); }
    void put(const char* tag, const char* msg, const char* value) { writeText(tag, msg, value); }
    void put(const char* tag, const char* msg, const std::string& value) { writeText(tag, msg, value); }
    void put(const char* tag, const char* msg, int value) { writeInt(tag, msg, value); }
    void put(const char* tag, const char* msg, bool value) { writeBool(tag, msg, value ? 1 : 0); }

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
