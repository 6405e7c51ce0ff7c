#include "cFile.h"

#include <cerrno>
#include <climits>
#include <string>

#include "cLog.h"
#include "cOpen.h"

namespace {

struct FdCloser {
    int fd;
    ~FdCloser() { cCloseFile(fd); }
};

// Reads up to `count` bytes; fewer only at the end of the file or on an error.
size_t readUpTo(int fd, unsigned char* into, size_t count) {
    size_t done = 0;
    while (done < count) {
        const long long n = cReadFile(fd, into + done, count - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    return done;
}

// Reads a regular file whose size was reported as 0 (a file of /proc, or
// one that is really empty) up to its end.
bool readUnsized(int fd, cBuffer& out, size_t& got) try {
    std::string content;
    unsigned char chunk[4096];
    for (;;) {
        const long long n = cReadFile(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        if (content.size() + static_cast<size_t>(n) > static_cast<size_t>(INT_MAX - 2)) return false;
        content.append(reinterpret_cast<const char*>(chunk), static_cast<size_t>(n));
        got = content.size();
    }
    return out.assign(content.data(), static_cast<int>(content.size()));
} catch (...) {
    return false;
}

}  // namespace

cFile::~cFile() = default;

cFile::ReadResult cFile::readRegular(const char* path, cBuffer& out, size_t& got) {
    out.release();
    got = 0;
    if (path == nullptr || *path == '\0') return OpenFailed;
    const int fd = cOpenForReading(path);
    if (fd < 0) return OpenFailed;
    FdCloser closer{fd};
    long long fileSize = 0;
    if (!cRegularFileSize(fd, fileSize)) return NotReadable;
    if (fileSize == 0) return readUnsized(fd, out, got) ? ReadOk : (out.release(), NotReadable);
    if (fileSize < 0 || fileSize > INT_MAX - 2) return NotReadable;
    const int size = static_cast<int>(fileSize);
    if (!out.allocate(size)) return NotReadable;
    got = readUpTo(fd, out.getData(), static_cast<size_t>(size));
    if (got != static_cast<size_t>(size) || !out.setLength(size)) {
        out.release();
        return NotReadable;
    }
    return ReadOk;
}

bool cFile::loadFromFile(const char* path) {
    release();
    if (path == nullptr || *path == '\0') return false;
    cLog& log = cLog::instance();
    size_t got = 0;
    const ReadResult result = readRegular(path, *this, got);
    if (result == OpenFailed) {
        log.error("Open file", path);
    } else if (result == NotReadable) {
        log.error("Read file size", static_cast<int>(got));
    }
    const bool ok = result == ReadOk;
    log.debug("end cFile::loadFromFile() return", ok);
    return ok;
}

bool cFile::createFolder(const char* path, const char* fileName) {
    return cLog::instance().createFolder(path, fileName);
}
