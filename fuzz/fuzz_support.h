// Helpers shared by the engine's libFuzzer harnesses.
#ifndef ORVANE_FUZZ_SUPPORT_H
#define ORVANE_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "cLog.h"

namespace fuzzsupport {

// Every log line is still formatted (so the logging paths are fuzzed too), but
// the process-wide log drops it instead of keeping it in memory until a log
// folder is set: releasing the pending lines once makes later ones go nowhere
// until a folder exists, and the harnesses never set one.
inline void quietLog() {
    cLog& log = cLog::instance();
    log.setLevel("DEBUG");
    if (std::FILE* sink = std::fopen("/dev/null", "w")) {
        log.flushPending(sink);
        std::fclose(sink);
    }
}

// The input as a zero-terminated text (it may hold further zero bytes; the
// engine's text operations stop at the first).
inline std::string text(const uint8_t* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// A private folder for files the harness writes, removed at exit.  /dev/shm
// keeps the writes in memory.
class ScratchDir {
public:
    ScratchDir() {
        const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/orvane-fuzz-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (::mkdtemp(buf.data()) != nullptr) path_ = buf.data();
    }
    ~ScratchDir() {
        if (!path_.empty()) {
            std::string cmd = "rm -rf '" + path_ + "'";
            if (std::system(cmd.c_str()) != 0) {
            }
        }
    }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline bool writeFile(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// Stops the run with a message when an invariant of the code under test fails
// (libFuzzer records the input as a crash).
#define FUZZ_CHECK(cond)                                                              \
    do {                                                                              \
        if (!(cond)) {                                                                \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                             \
        }                                                                             \
    } while (0)

}  // namespace fuzzsupport

#endif
