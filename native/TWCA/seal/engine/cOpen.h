// Opening the files the engine reads and the log it appends to, so that a
// name in the configuration cannot make the engine hang or write elsewhere.
//
// A FIFO or a device under a configured name would block an ordinary open (a
// FIFO waits for its other end) or hand the engine an endless stream: both
// functions open without blocking and accept regular files only.  The log file
// is never opened through a symbolic link, since a line appended through a
// link planted in the log folder would land in whatever file it names; the
// folders on the way may be links (that is the user's choice of folder).
#ifndef ORVANE_ENGINE_COPEN_H
#define ORVANE_ENGINE_COPEN_H

#include <cstdio>

// The regular file at `path` for binary reading (a link to one is fine), or
// nullptr with errno set (EINVAL for a file that is not a regular file).
std::FILE* cOpenForReading(const char* path);

// The regular file at `path` for appending, created readable and writable by
// its owner only when missing; nullptr with errno set when `path` is a
// symbolic link (ELOOP), not a regular file (EINVAL, or ENXIO for a FIFO with
// no reader) or cannot be opened.
std::FILE* cOpenForAppending(const char* path);

#endif
