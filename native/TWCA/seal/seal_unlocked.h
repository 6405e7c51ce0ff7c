// Engine work without the interpreter lock.
//
// Signing takes from a few hundred microseconds to milliseconds of CPU; while
// it runs the interpreter lock is released, so other Python threads (the
// market-data thread, other sessions) run meanwhile. The order is always:
// release the interpreter lock, take the facade's lock (inside the engine
// call), work, copy the result into memory the module owns, drop the facade's
// lock, take the interpreter lock back. No engine lock is ever waited for
// while the interpreter lock is held, and none is held while waiting for it.
//
// The engine gate counts the threads inside such a stretch, and those that
// have left it but not yet got the interpreter lock back. At interpreter exit
// it is closed (an atexit callback, which runs before the interpreter starts
// tearing down and long before the module facade, the chain store and
// OpenSSL are released): closing waits until every thread has left, and from
// then on engine work runs with the interpreter lock held. So no thread can
// still be inside the engine when its process-wide state goes away. Built
// with an unwinder other than GCC's, closing also lets the interpreter lock
// go until every thread that left has taken it back, so none is waiting for
// it in here when finalisation begins (CPython would end it there, see
// common/gil.h); with GCC's, such a thread is parked where it waits.
//
// fork() waits at the gate too: before the process is copied, the threads
// inside leave and no other enters, so the child never inherits a lock (the
// facade's, the chain store's, the log's, OpenSSL's own) or a half-changed
// structure from a thread it does not have. The child starts with an empty,
// usable gate; its sessions sign on its own threads (a store thread is not
// copied) and it exits like any process.
#pragma once

#include <condition_variable>
#include <exception>
#include <mutex>
#include <utility>

#include "common/gil.h"

namespace orvane::seal {

class EngineGate {
public:
    // The gate of the process; never destroyed.
    static EngineGate& instance();

    // True when the caller may release the interpreter lock for engine work
    // (it must call leave() when the work is done and returned() once it
    // holds the interpreter lock again); false once the gate is closed.
    bool enter() noexcept;
    void leave() noexcept;
    void returned() noexcept;
    // Refuses further entries and waits until every thread inside has left;
    // with `and_returned`, also until every thread that left holds the
    // interpreter lock again (the caller must not hold it then).
    void close(bool and_returned = false) noexcept;

    // Around fork(): before it, waits until every thread inside has left and
    // keeps the gate shut; after it, opens the gate again in the parent and
    // gives the child a fresh one.
    void before_fork() noexcept;
    void after_fork_in_parent() noexcept;
    void after_fork_in_child() noexcept;

private:
    std::mutex lock_;
    std::condition_variable left_;
    int inside_ = 0;
    int returning_ = 0;   // left, waiting for the interpreter lock
    bool closed_ = false;
};

// Registers the closing of the gate with Python's atexit and the gate's fork
// handlers with the C library; false with an exception set when that fails.
bool register_gate_closing();

// How many times this process's line of ancestors was copied by fork() since
// the module was loaded: an object that keeps a lock of its own compares it
// with the count it last saw to learn that it now lives in a child.
unsigned fork_count() noexcept;

// Runs work() (which returns an int and touches nothing of Python) with the
// interpreter lock released, or with it held once the gate is closed. An
// exception thrown by work() is rethrown after the lock is taken back.
template <class Work>
int run_unlocked(Work&& work) {
    EngineGate& gate = EngineGate::instance();
    if (!gate.enter()) return work();
    PyThreadState* thread_state = release_interpreter();
    int result = 0;
    std::exception_ptr failure;
    try {
        result = work();
    } catch (...) {
        failure = std::current_exception();
    }
    gate.leave();
    reacquire_interpreter(thread_state);
    gate.returned();
    if (failure) std::rethrow_exception(failure);
    return result;
}

// Locks `m` for the caller without holding the interpreter lock while it
// waits (the holder may need the interpreter lock to finish).
void lock_unlocked(std::recursive_mutex& m);

}  // namespace orvane::seal
