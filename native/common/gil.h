// Releasing and taking back the interpreter lock around native work.
//
// Between release() and reacquire() the thread must not touch a Python object
// nor call the Python API, and it must not hold a lock that a thread holding
// the interpreter lock may wait for when it calls reacquire().
//
// At interpreter exit, a daemon thread that asks for the interpreter lock
// back is ended by CPython (3.8 to 3.13) with pthread_exit, which unwinds its
// stack and runs the destructors of every C++ frame above it, Ref destructors
// included, without the interpreter lock. reacquire() stops that unwind where
// it starts and parks the thread instead, as CPython 3.14 does itself: the
// process ends around it and nothing of it runs again.
#pragma once

#include "common/ref.h"

#include <unistd.h>

namespace orvane {

inline PyThreadState* release_interpreter() noexcept { return PyEval_SaveThread(); }

[[noreturn]] inline void park_thread_forever() noexcept {
    for (;;) ::pause();
}

inline void reacquire_interpreter(PyThreadState* state) noexcept {
    try {
        PyEval_RestoreThread(state);
    } catch (...) {
        // Only the forced unwind of an interpreter that is finalising and
        // ends this thread gets here (the call itself throws nothing): park
        // the thread. Leaving the handler without rethrowing would abort the
        // process. (Caught with "...": a forced unwind carries no C++ object
        // for a typed handler to bind to.)
        park_thread_forever();
    }
}

}  // namespace orvane
