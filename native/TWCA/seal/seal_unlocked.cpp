#include "seal_unlocked.h"

#include <new>

namespace seal {

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
    if (--inside_ == 0 && closed_) left_.notify_all();
}

void EngineGate::close() noexcept {
    std::unique_lock<std::mutex> hold(lock_);
    closed_ = true;
    // The threads inside need nothing from the caller (in particular not the
    // interpreter lock) to leave.
    left_.wait(hold, [this] { return inside_ == 0; });
}

namespace {

PyObject* close_gate(PyObject*, PyObject*) {
    EngineGate::instance().close();
    Py_RETURN_NONE;
}

PyMethodDef close_gate_def = {"_close_engine_gate", close_gate, METH_NOARGS, nullptr};

}  // namespace

bool register_gate_closing() {
    orvane::Ref atexit = orvane::Ref::steal(PyImport_ImportModule("atexit"));
    if (!atexit) return false;
    orvane::Ref fn = orvane::Ref::steal(PyCFunction_NewEx(&close_gate_def, nullptr, nullptr));
    if (!fn) return false;
    PyObject* arg = fn.get();
    orvane::Ref name = orvane::Ref::steal(PyUnicode_InternFromString("register"));
    if (!name) return false;
    orvane::Ref r = orvane::Ref::steal(orvane::call_method(atexit.get(), name.get(), &arg, 1));
    return static_cast<bool>(r);
}

void lock_unlocked(std::recursive_mutex& m) {
    if (m.try_lock()) return;
    PyThreadState* state = orvane::release_interpreter();
    std::exception_ptr failure;
    try {
        m.lock();
    } catch (...) {
        failure = std::current_exception();
    }
    orvane::reacquire_interpreter(state);
    if (failure) std::rethrow_exception(failure);
}

}  // namespace seal
