#include "cPlatformProcess.h"

#ifdef _WIN32
#include <process.h>
#else
#include <pthread.h>
#include <unistd.h>
#endif

int cProcessId() {
#ifdef _WIN32
    return ::_getpid();
#else
    return static_cast<int>(::getpid());
#endif
}

int cAtFork(void (*prepare)(), void (*parent)(), void (*child)()) {
#ifdef _WIN32
    (void)prepare;
    (void)parent;
    (void)child;
    return 0;
#else
    return ::pthread_atfork(prepare, parent, child);
#endif
}
