// Opening the files the engine reads and the log file it appends to, by the
// engine's own file names (on Windows code page 950 bytes, opened through the
// wide-character calls, see cPlatformCodePage.h), so that a name in the
// configuration cannot make the engine hang or write elsewhere.
//
// A FIFO or a device under a configured name would block an ordinary open (a
// FIFO waits for its other end) or hand the engine an endless stream: files
// are opened without blocking and only a regular file is read or appended to.
// The log file is never opened through a symbolic link (on Windows: any
// reparse point), since a line appended through a link planted in the log
// folder would land in whatever file it names; the folders on the way may be
// links (that is the user's choice of folder).  Everything is binary: the
// log's line ends are single line feeds on every platform.
#ifndef ORVANE_ENGINE_COPEN_H
#define ORVANE_ENGINE_COPEN_H

#include <cstddef>
#include <cstdio>

// The regular file at `path` for appending, created readable and writable by
// its owner only when missing; nullptr with errno set when `path` is a
// symbolic link (ELOOP), not a regular file (EINVAL, or ENXIO for a FIFO with
// no reader) or cannot be opened.
std::FILE* cOpenForAppending(const char* path);

// A descriptor of `path` opened for reading without waiting on it, or -1 with
// errno set.
int cOpenForReading(const char* path);

// The size of the regular file open at `fd`; false when it is anything else
// (a FIFO, a device, a socket, a folder) or cannot be examined.
bool cRegularFileSize(int fd, long long& size);

// Reads up to `count` bytes at `fd`: the count read, 0 at the end of the file,
// -1 with errno set on an error.
long long cReadFile(int fd, void* into, size_t count);

void cCloseFile(int fd);

#endif
