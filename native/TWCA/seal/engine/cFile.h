// Owned file contents; whole-file reads; creation of the log folder.
#ifndef ORVANE_ENGINE_CFILE_H
#define ORVANE_ENGINE_CFILE_H

#include <cstddef>
#include <cstdio>

#include "engine/cBuffer.h"

class cFile : public cBuffer {
public:
    cFile() = default;
    virtual ~cFile();
    cFile(cFile&&) noexcept = default;
    cFile& operator=(cFile&&) noexcept = default;

    // Reads the whole file (binary).  An empty file succeeds with no data.
    // Failures write the ERROR line "Open file" (path) or "Read file size"
    // (count read); the DEBUG line "end cFile::loadFromFile() return" follows.
    bool loadFromFile(const char* path);

    // Sets up the process-wide log's folder and file name (see
    // cLog::createFolder): the dated files become path/fileName.YYYYMMDD.
    static bool createFolder(const char* path, const char* fileName);

private:
    bool readUnsized(std::FILE* file, size_t& got);
};

#endif
