#include "cLog.h"

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "cBig5.h"
#include "cChars.h"
#include "cOpen.h"
#include "cPlatformFolder.h"
#include "cPlatformProcess.h"
#include "cPlatformTime.h"

namespace {

void flushProcessLogAtExit() {
    cLog::instance().flushAtExit();
}

}  // namespace

cLog& cLog::instance() {
    // Never destroyed: objects torn down at exit may still write lines.  The
    // lines still pending then are written out by an exit handler registered
    // here, i.e. before any later static object, so it runs after their
    // destructors.
    static cLog* const log = [] {
        cLog* created = new (std::nothrow) cLog();
        if (created == nullptr) std::abort();
        std::atexit(flushProcessLogAtExit);
        // A child made by fork() while another thread wrote a line would find
        // the lock taken by a thread it does not have, and hang at its first
        // line or at exit: fork waits for the line to end and both processes
        // go on with the lock free.  Registered before anything that locks
        // around the log, so its turn before a fork comes after theirs.
        cAtFork([] { cLog::instance().lock.lock(); }, [] { cLog::instance().lock.unlock(); },
                [] { cLog::instance().lock.unlock(); });
        return created;
    }();
    return *log;
}

namespace {
// Creates the process-wide log while the library is loaded, before any other
// engine code runs.
const bool processLogCreated = (cLog::instance(), true);
}  // namespace

cLog::cLog() = default;
cLog::~cLog() = default;

cLogTime cLog::now() {
    // Seconds and milliseconds come from one reading of the clock, so the
    // stamp never mixes two different seconds.
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
    std::time_t secs = static_cast<std::time_t>(ms / 1000);
    int millis = static_cast<int>(ms % 1000);
    if (millis < 0) {
        millis += 1000;
        secs -= 1;
    }
    struct tm local;
    cTimeToLocal(secs, local);
    return cLogTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                    local.tm_min, local.tm_sec, millis};
}

void cLog::setTimeSource(TimeSource source) {
    timeSource.store(source);
}

void cLog::setLevel(const char* name) {
    if (name == nullptr || *name == '\0') return;
    if (cChars::equalsIgnoreCase(name, "DEBUG")) {
        level.store(LOG_LEVEL_DEBUG, std::memory_order_relaxed);
        info(BIG5_MSG("重設 LOG Level = DEBUG"));
    } else if (cChars::equalsIgnoreCase(name, "INFO")) {
        level.store(LOG_LEVEL_INFO, std::memory_order_relaxed);
        info(BIG5_MSG("重設 LOG Level = INFO"));
    } else if (cChars::equalsIgnoreCase(name, "WARN")) {
        level.store(LOG_LEVEL_WARN, std::memory_order_relaxed);
    } else if (cChars::equalsIgnoreCase(name, "ERROR")) {
        level.store(LOG_LEVEL_ERROR, std::memory_order_relaxed);
    } else if (cChars::equalsIgnoreCase(name, "OFF")) {
        level.store(LOG_LEVEL_OFF, std::memory_order_relaxed);
    }
}

std::string cLog::format(const char* fmt, ...) {
    if (fmt == nullptr) return std::string();
    try {
        char small[256];
        va_list args;
        va_start(args, fmt);
        const int needed = std::vsnprintf(small, sizeof small, fmt, args);
        va_end(args);
        if (needed < 0) return std::string();
        if (static_cast<size_t>(needed) < sizeof small) return std::string(small, static_cast<size_t>(needed));
        std::string big(static_cast<size_t>(needed) + 1, '\0');
        va_start(args, fmt);
        std::vsnprintf(&big[0], big.size(), fmt, args);
        va_end(args);
        big.resize(static_cast<size_t>(needed));
        return big;
    } catch (...) {
        return std::string();
    }
}

std::string cLog::header(const cLogTime& t, const char* tag) const {
    char buf[128];
    const int n = std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d.%03d (PID=%d) %5s ", t.year,
                                t.month, t.day, t.hour, t.minute, t.second, t.millis,
                                cProcessId(), tag ? tag : "");
    if (n < 0) return std::string();
    return std::string(buf, static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1);
}

std::string cLog::fileNameFor(const cLogTime& t) const {
    std::lock_guard<std::mutex> guard(lock);
    return dayFileName(t);
}

std::string cLog::dayFileName(const cLogTime& t) const {
    if (basePath.empty()) return std::string();
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%04d%02d%02d", t.year, t.month, t.day);
    return basePath + suffix;
}

cLogTime cLog::stamp() const {
    const TimeSource source = timeSource.load();
    return source ? source() : now();
}

void cLog::emit(const char* tag, const char* msg, const char* tail, size_t tailLen) {
    try {
        const cLogTime t = stamp();
        std::string line = header(t, tag);
        if (msg) line += msg;
        line.append(tail, tailLen);
        writeLine(t, line);
    } catch (...) {
        // Logging never fails its caller: a line that cannot be built is dropped.
    }
}

std::FILE* cLog::openDayFile(const cLogTime& t) const {
    const std::string name = dayFileName(t);
    return name.empty() ? nullptr : cOpenForAppending(name.c_str());
}

void cLog::releasePendingInto(std::FILE* out) {
    if (pendingReleased) return;
    if (!pending.empty() && out != nullptr) std::fwrite(pending.data(), 1, pending.size(), out);
    std::string().swap(pending);
    pendingReleased = true;
}

bool cLog::writePendingToFile(const cLogTime& t) {
    if (pendingReleased) return true;
    if (pending.empty()) {
        // Nothing held: no file is made for it.
        releasePendingInto(nullptr);
        return true;
    }
    std::FILE* file = openDayFile(t);
    if (file == nullptr) return false;
    releasePendingInto(file);
    std::fclose(file);
    return true;
}

void cLog::writeLine(const cLogTime& t, const std::string& line) {
    std::lock_guard<std::mutex> guard(lock);
    if (basePath.empty()) {
        if (!pendingReleased && pending.size() + line.size() <= kPendingLimit) pending += line;
        return;
    }
    std::FILE* file = openDayFile(t);
    if (file == nullptr) return;   // the line is dropped; pending waits for a file
    releasePendingInto(file);
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
}

void cLog::write(const char* tag, const char* msg) {
    emit(tag, msg, "\n", 1);
}

void cLog::writeText(const char* tag, const char* msg, const char* value) {
    try {
        std::string tail = " = ";
        if (value) tail += value;
        tail += '\n';
        emit(tag, msg, tail.data(), tail.size());
    } catch (...) {
    }
}

void cLog::writeText(const char* tag, const char* msg, const std::string& value) {
    writeText(tag, msg, value.c_str());
}

void cLog::writeInt(const char* tag, const char* msg, int value) {
    char tail[48];
    const int n = std::snprintf(tail, sizeof tail, " = 0x%08X(%d)\n", static_cast<unsigned>(value), value);
    emit(tag, msg, tail, static_cast<size_t>(n));
}

void cLog::writeBool(const char* tag, const char* msg, int value) {
    if (value == 1)
        emit(tag, msg, " = true\n", 8);
    else
        emit(tag, msg, " = false\n", 9);
}

void cLog::writeDump(const char* msg, const void* data, int length) {
    try {
        char buf[64];
        int n = std::snprintf(buf, sizeof buf, "(len=%d, 0x%X) = \n", length, static_cast<unsigned>(length));
        std::string tail(buf, static_cast<size_t>(n));
        const unsigned char* bytes = static_cast<const unsigned char*>(data);
        if (bytes != nullptr && length > 0) {
            tail.reserve(tail.size() + (static_cast<size_t>(length) / 16 + 1) * 80);
            for (int row = 0; row < length; row += 16) {
                const int count = length - row < 16 ? length - row : 16;
                n = std::snprintf(buf, sizeof buf, " 0x%08x -", static_cast<unsigned>(row));
                tail.append(buf, static_cast<size_t>(n));
                char chars[17];
                for (int i = 0; i < count; ++i) {
                    const unsigned char b = bytes[row + i];
                    n = std::snprintf(buf, sizeof buf, " %02x", b);
                    tail.append(buf, static_cast<size_t>(n));
                    chars[i] = (b >= 0x20 && b <= 0x7E) ? static_cast<char>(b) : '.';
                }
                tail.append(static_cast<size_t>(16 - count) * 3, ' ');
                tail += " : ";
                tail.append(chars, static_cast<size_t>(count));
                tail += '\n';
            }
        }
        emit(LOG_TAG_DEBUG, msg, tail.data(), tail.size());
    } catch (...) {
    }
}

bool cLog::createFolder(const char* path, const char* fileName) {
    if (path == nullptr || *path == '\0' || fileName == nullptr || *fileName == '\0') return false;
    if (isFolderReady()) return false;
    bool ok = true;
    try {
        const std::string full(path);
        // Walk from the second byte so a leading "/" is not taken for a folder.
        for (size_t i = 1; ok && i <= full.size(); ++i) {
            if (i == full.size() || full[i] == '/') ok = cMakeFolder(full.substr(0, i));
        }
        debug("end cFile::createFolder() return", ok);
        if (!ok) return false;
        std::string base = full + "/" + fileName;
        std::lock_guard<std::mutex> guard(lock);
        if (folderReady) return false;   // another thread got there first
        basePath.swap(base);
        folderReady = true;
        // The lines held so far go to the top of the day's file now, not with
        // the next line that reaches a file: at a threshold that lets no
        // later line through there may never be one.  When the file cannot
        // be opened they wait for the next line or the end of the process.
        writePendingToFile(stamp());
        return true;
    } catch (...) {
        return false;
    }
}

bool cLog::isFolderReady() const {
    std::lock_guard<std::mutex> guard(lock);
    return folderReady;
}

std::string cLog::getBasePath() const {
    std::lock_guard<std::mutex> guard(lock);
    try {
        return basePath;
    } catch (...) {
        return std::string();
    }
}

void cLog::flushPending(std::FILE* out) {
    std::lock_guard<std::mutex> guard(lock);
    if (pendingReleased) return;
    releasePendingInto(out);
    if (out != nullptr) std::fflush(out);
}

void cLog::flushAtExit() {
    std::lock_guard<std::mutex> guard(lock);
    if (pendingReleased) return;
    try {
        if (writePendingToFile(stamp())) return;
    } catch (...) {
    }
    releasePendingInto(stderr);
    std::fflush(stderr);
}
