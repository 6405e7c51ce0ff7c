// Releasing and taking back the interpreter lock around native work.
//
// Between release() and reacquire() the thread must not touch a Python object
// nor call the Python API, and it must not hold a lock that a thread holding
// the interpreter lock may wait for when it calls reacquire().
//
// At interpreter exit, a daemon thread that asks for the interpreter lock
// back is ended by CPython (3.8 to 3.13) with pthread_exit. Under glibc that
// unwinds the thread's stack through every C++ frame above it, and how that
// goes depends on the unwinder the module was linked with: with GCC's it runs
// destructors without the interpreter lock, with another one (a module built
// with LLVM's libunwind) the unwind itself can crash. reacquire() therefore
// never asks for the lock once finalisation has begun: it parks the thread,
// as CPython 3.14 does itself, and the process ends around it.
//
// That test leaves a window: a thread that passed it may be waiting for the
// lock when finalisation begins. Callers that can wait for such threads to
// come back before finalisation (the signing module's engine gate does, at
// atexit) close it; under GCC's unwinder the forced unwind is stopped here
// as well and the thread parked.
#pragma once

#include "common/ref.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace orvane {

inline PyThreadState* release_interpreter() noexcept { return PyEval_SaveThread(); }

[[noreturn]] inline void park_thread_forever() noexcept {
    for (;;) {
#ifdef _WIN32
        ::Sleep(INFINITE);
#else
        ::pause();
#endif
    }
}

// True once the interpreter has begun to finalise; callable without the
// interpreter lock.
inline bool interpreter_finalizing() noexcept {
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing() != 0;
#else
    return _Py_IsFinalizing() != 0;
#endif
}

inline void reacquire_interpreter(PyThreadState* state) noexcept {
    if (interpreter_finalizing()) park_thread_forever();
#if defined(__GLIBCXX__)
    try {
        PyEval_RestoreThread(state);
    } catch (...) {
        // Only the forced unwind of an interpreter that began finalising
        // while this thread waited gets here (the call itself throws
        // nothing): park the thread. Leaving the handler without rethrowing
        // would abort the process. (Caught with "...": a forced unwind
        // carries no C++ object for a typed handler to bind to.)
        park_thread_forever();
    }
#else
    PyEval_RestoreThread(state);
#endif
}

}  // namespace orvane
