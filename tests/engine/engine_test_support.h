// Helpers shared by the engine's GoogleTest files: temporary folders, whole
// file reads, reading back what the process-wide log appended, and running
// python3 as an independent peer.
#ifndef ORVANE_TESTS_ENGINE_SUPPORT_H
#define ORVANE_TESTS_ENGINE_SUPPORT_H

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cBig5.h"
#include "cLog.h"

namespace enginetest {

// A fresh folder under $TMPDIR (or /tmp), removed with its content.
class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/engine-test-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (::mkdtemp(buf.data()) != nullptr) path_ = buf.data();
    }
    ~TempDir() {
        if (!path_.empty()) removeTree(path_);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

    static void removeTree(const std::string& path) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0) return;
        if (S_ISDIR(st.st_mode)) {
            if (DIR* d = ::opendir(path.c_str())) {
                while (dirent* e = ::readdir(d)) {
                    const std::string name = e->d_name;
                    if (name != "." && name != "..") removeTree(path + "/" + name);
                }
                ::closedir(d);
            }
            ::rmdir(path.c_str());
        } else {
            ::unlink(path.c_str());
        }
    }

private:
    std::string path_;
};

inline std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void writeAll(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline bool isDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

inline std::vector<std::string> listFolder(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(path.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(d);
    }
    return names;
}

inline std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The part of a log line after its header ("yyyy/mm/dd hh:mm:ss.mmm (PID=n) TAG ").
inline std::string afterHeader(const std::string& line) {
    const auto close = line.find(") ");
    return close == std::string::npos || line.size() < close + 8 ? std::string() : line.substr(close + 8);
}
inline std::string tagOf(const std::string& line) {
    const auto close = line.find(") ");
    return close == std::string::npos || line.size() < close + 7 ? std::string() : line.substr(close + 2, 5);
}

inline TempDir*& ProcessLogDirSlot() {
    static TempDir* slot = nullptr;
    return slot;
}

// Points the process-wide log at a temporary folder (once per process) and
// lets a test read back the lines appended since it started.
class ProcessLog {
public:
    static const std::string& folder() {
        static const std::string logs = [] {
            ProcessLogDirSlot() = new TempDir();
            std::atexit([] { delete ProcessLogDirSlot(); });
            const std::string path = ProcessLogDirSlot()->path() + "/logs";
            cLog& log = cLog::instance();
            log.createFolder(path.c_str(), "engine.log");
            // Moves the lines written so far into the file.
            log.write(LOG_TAG_INFO, "test log ready");
            return path;
        }();
        return logs;
    }
    // Every byte currently in the log folder's files, in name order.
    static std::string contents() {
        std::vector<std::string> names = listFolder(folder());
        std::sort(names.begin(), names.end());
        std::string all;
        for (const auto& name : names) all += readAll(folder() + "/" + name);
        return all;
    }
};

class LogCapture {
public:
    LogCapture() : start_(ProcessLog::contents().size()) {}
    std::vector<std::string> lines() const { return splitLines(ProcessLog::contents().substr(start_)); }
    // The lines with `tag`, reduced to what follows the header.
    std::vector<std::string> bodies(const std::string& tag) const {
        std::vector<std::string> out;
        std::string padded = std::string(5 - std::min<size_t>(5, tag.size()), ' ') + tag;
        for (const auto& line : lines())
            if (tagOf(line) == padded) out.push_back(afterHeader(line));
        return out;
    }

private:
    size_t start_;
};

// Runs a shell command and returns its standard output; sets *status.
inline std::string runCommand(const std::string& command, int* status = nullptr) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        if (status) *status = -1;
        return output;
    }
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) output.append(buf, n);
    const int rc = ::pclose(pipe);
    if (status) *status = rc;
    return output;
}

// The engine's BIG5 form of UTF-8 text (checked against Python's cp950 in
// test_codepage.cpp).
inline std::string utf8Big5(const char* utf8) {
    std::string big5;
    utf8ToBig5(utf8, big5);
    return big5;
}

inline std::string toHex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

inline std::string fromHex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

}  // namespace enginetest

#endif
