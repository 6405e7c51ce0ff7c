// The process as the platform shows it: its id, and the handlers that keep
// the engine's locks usable across fork() (POSIX only; Windows has no fork).
#ifndef ORVANE_ENGINE_CPLATFORMPROCESS_H
#define ORVANE_ENGINE_CPLATFORMPROCESS_H

// The id of the calling process.
int cProcessId();

// Registers handlers run around fork(): `prepare` in the forking thread before
// the copy, `parent` and `child` after it in each process.  0 on success, an
// errno value otherwise.  Does nothing (and succeeds) where there is no fork.
int cAtFork(void (*prepare)(), void (*parent)(), void (*child)());

#endif
