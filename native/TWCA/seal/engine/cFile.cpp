#include "engine/cFile.h"

#include <climits>
#include <string>
#include <cstdio>
#include <memory>

#include "engine/cLog.h"
#include "engine/cOpen.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};

}  // namespace

// Reads a stream whose size was reported as 0 up to its end.
bool cFile::readUnsized(std::FILE* file, size_t& got) try {
    std::string content;
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        if (content.size() + n > static_cast<size_t>(INT_MAX - 2)) return false;
        content.append(chunk, n);
    }
    got = content.size();
    if (std::ferror(file)) return false;
    return assign(content.data(), static_cast<int>(content.size()));
} catch (...) {
    return false;
}

cFile::~cFile() = default;

bool cFile::loadFromFile(const char* path) {
    release();
    if (path == nullptr || *path == '\0') return false;
    cLog& log = cLog::instance();
    bool ok = false;
    {
        // Regular files only: a FIFO under the name would block the open.
        std::unique_ptr<std::FILE, FileCloser> file(cOpenForReading(path));
        if (!file) {
            if (log.isError()) log.writeText(LOG_TAG_ERROR, "Open file", path);
        } else {
            long long size = -1;
            if (fseeko(file.get(), 0, SEEK_END) == 0) size = static_cast<long long>(ftello(file.get()));
            std::rewind(file.get());
            size_t got = 0;
            if (size == 0) {
                // Zero size: an empty file, or one that does not report its
                // size (such as those under /proc).
                ok = readUnsized(file.get(), got);
            } else if (size > 0 && size <= INT_MAX - 2 && allocate(static_cast<int>(size))) {
                got = std::fread(getData(), 1, static_cast<size_t>(size), file.get());
                ok = got == static_cast<size_t>(size) && setLength(static_cast<int>(size));
            }
            if (!ok) {
                release();
                if (log.isError()) log.writeInt(LOG_TAG_ERROR, "Read file size", static_cast<int>(got));
            }
        }
    }
    if (log.isDebug()) log.writeBool(LOG_TAG_DEBUG, "end cFile::loadFromFile() return", ok ? 1 : 0);
    return ok;
}

bool cFile::createFolder(const char* path, const char* fileName) {
    return cLog::instance().createFolder(path, fileName);
}
