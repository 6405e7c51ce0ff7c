#include "seal_unlocked.h"

#include <pthread.h>

#include <atomic>
#include <cstring>
#include <new>

#include "seal_state.h"

namespace orvane::seal {

EngineGate& EngineGate::instance() {
    // Never destroyed: threads parked at exit may still hold a pointer to it.
    static EngineGate* const gate = new EngineGate();
    return *gate;
}

bool EngineGate::enter() noexcept {
    std::lock_guard<std::mutex> hold(lock_);
    if (closed_) return false;
    ++inside_;
    return true;
}

void EngineGate::leave() noexcept {
    std::lock_guard<std::mutex> hold(lock_);
    ++returning_;
    // Wakes close() and before_fork(), whichever waits.
    if (--inside_ == 0) left_.notify_all();
}

void EngineGate::returned() noexcept {
    std::lock_guard<std::mutex> hold(lock_);
    if (--returning_ == 0) left_.notify_all();
}

void EngineGate::close(bool and_returned) noexcept {
    std::unique_lock<std::mutex> hold(lock_);
    closed_ = true;
    // The threads inside need nothing from the caller to leave; those coming
    // back need the interpreter lock, which the caller has let go.
    left_.wait(hold, [this, and_returned] { return inside_ == 0 && (!and_returned || returning_ == 0); });
}

void EngineGate::before_fork() noexcept {
    std::unique_lock<std::mutex> hold(lock_);
    // The threads inside work without the interpreter lock (which the forking
    // thread holds) and need nothing from the forking thread to leave.
    left_.wait(hold, [this] { return inside_ == 0; });
    // Kept locked across the fork: no thread enters until the gate reopens.
    hold.release();
}

void EngineGate::after_fork_in_parent() noexcept {
    lock_.unlock();
}

void EngineGate::after_fork_in_child() noexcept {
    // Only the forking thread exists here: new lock and condition, no one
    // inside, closed as the parent was.
    new (&lock_) std::mutex();
    new (&left_) std::condition_variable();
    inside_ = 0;
    returning_ = 0;
}

namespace {

std::atomic<unsigned> forks{0};

void gate_before_fork() {
    EngineGate::instance().before_fork();
}
void gate_after_fork_in_parent() {
    EngineGate::instance().after_fork_in_parent();
}
void gate_after_fork_in_child() {
    EngineGate::instance().after_fork_in_child();
    forks.fetch_add(1, std::memory_order_relaxed);
}

PyObject* close_gate(PyObject*, PyObject*) {
    // Runs before finalisation begins.
#if defined(__GLIBCXX__)
    // GCC's unwinder: a thread still waiting for the interpreter lock when
    // finalisation begins is caught and parked in reacquire_interpreter, so
    // the gate closes with the lock held, as it always did. The threads
    // coming back out of the engine then wait for it instead of running
    // Python code again: on 3.10 a daemon thread that takes the lock back in
    // its eval loop while the interpreter goes away can crash the process.
    EngineGate::instance().close();
#else
    // Any other unwinder: the threads coming back out of the engine get the
    // interpreter lock now, and none asks for it once finalisation began.
    Py_BEGIN_ALLOW_THREADS
    EngineGate::instance().close(true);
    Py_END_ALLOW_THREADS
#endif
    Py_RETURN_NONE;
}

PyMethodDef close_gate_def = {"_close_engine_gate", close_gate, METH_NOARGS, nullptr};

}  // namespace

unsigned fork_count() noexcept {
    return forks.load(std::memory_order_relaxed);
}

bool register_gate_closing() {
    // Registered after the signing log's handlers (made when the library was
    // loaded), so before a fork the gate empties first and the log's lock,
    // which threads inside the gate take, is taken after.
    // Once per process, even when a failed import of the module is retried
    // (a second before_fork would wait for the lock the first one keeps).
    static bool handlers_registered = false;
    if (!handlers_registered) {
        const int failed = ::pthread_atfork(gate_before_fork, gate_after_fork_in_parent, gate_after_fork_in_child);
        if (failed != 0) {
            PyErr_Format(PyExc_OSError, "pthread_atfork failed: %s", std::strerror(failed));
            return false;
        }
        handlers_registered = true;
    }
    Ref atexit = Ref::steal(PyImport_ImportModule("atexit"));
    if (!atexit) return false;
    Ref fn = Ref::steal(PyCFunction_NewEx(&close_gate_def, nullptr, nullptr));
    if (!fn) return false;
    PyObject* arg = fn.get();
    Ref r = Ref::steal(call_method(atexit.get(), state.names.atexit_register, &arg, 1));
    return static_cast<bool>(r);
}

void lock_unlocked(std::recursive_mutex& m) {
    if (m.try_lock()) return;
    PyThreadState* thread_state = release_interpreter();
    std::exception_ptr failure;
    try {
        m.lock();
    } catch (...) {
        failure = std::current_exception();
    }
    reacquire_interpreter(thread_state);
    if (failure) std::rethrow_exception(failure);
}

}  // namespace orvane::seal
