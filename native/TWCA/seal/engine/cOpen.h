// Opening the log file the engine appends to, so that a name in the
// configuration cannot make the engine hang or write elsewhere (files the
// engine reads go through cFile::readRegular, which never waits either).
//
// A FIFO or a device under a configured name would block an ordinary open (a
// FIFO waits for its other end) or hand the engine an endless stream: the log
// is opened without blocking and only a regular file is accepted.  The log file
// is never opened through a symbolic link, since a line appended through a
// link planted in the log folder would land in whatever file it names; the
// folders on the way may be links (that is the user's choice of folder).
#ifndef ORVANE_ENGINE_COPEN_H
#define ORVANE_ENGINE_COPEN_H

#include <cstdio>

// The regular file at `path` for appending, created readable and writable by
// its owner only when missing; nullptr with errno set when `path` is a
// symbolic link (ELOOP), not a regular file (EINVAL, or ENXIO for a FIFO with
// no reader) or cannot be opened.
std::FILE* cOpenForAppending(const char* path);

#endif
