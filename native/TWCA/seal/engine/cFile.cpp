#include "engine/cFile.h"

#include <climits>
#include <cstdio>
#include <memory>

#include "engine/cLog.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f) std::fclose(f);
    }
};

}  // namespace

cFile::~cFile() = default;

bool cFile::loadFromFile(const char* path) {
    release();
    if (path == nullptr || *path == '\0') return false;
    cLog& log = cLog::instance();
    bool ok = false;
    {
        std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
        if (!file) {
            if (log.isError()) log.writeText(LOG_TAG_ERROR, "Open file", path);
        } else {
            long long size = -1;
            if (fseeko(file.get(), 0, SEEK_END) == 0) size = static_cast<long long>(ftello(file.get()));
            std::rewind(file.get());
            size_t got = 0;
            if (size == 0) {
                ok = true;   // an empty file has no block
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
