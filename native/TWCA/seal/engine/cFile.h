// Owned file contents; whole-file reads; creation of the log folder.
#ifndef ORVANE_ENGINE_CFILE_H
#define ORVANE_ENGINE_CFILE_H

#include <cstddef>

#include "cBuffer.h"

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

    // How readRegular ended.
    enum ReadResult { ReadOk, OpenFailed, NotReadable };

    // Reads the whole file `path` into `out`, writing no log line.  Never
    // waits on the file: it is opened without blocking, and anything but a
    // regular file (a FIFO, a device, a socket, a folder) opens but is not
    // read (NotReadable), so a FIFO given as a file cannot stall the caller.
    // `got` is the count of bytes read.
    static ReadResult readRegular(const char* path, cBuffer& out, size_t& got);

    // Sets up the process-wide log's folder and file name (see
    // cLog::createFolder): the dated files become path/fileName.YYYYMMDD.
    static bool createFolder(const char* path, const char* fileName);
};

#endif
