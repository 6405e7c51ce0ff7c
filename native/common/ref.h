// Owning reference to a PyObject, plus the few version shims the modules need.
//
// Every module builds on this header: a Ref owns exactly one reference and
// releases it in its destructor, so an early return on an error path never
// leaks. Borrowed references stay plain `PyObject*`.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <new>
#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif
#include <utility>

// Module entry points. CPython 3.8's PyMODINIT_FUNC carries no visibility
// attribute, and the modules are built with hidden visibility, so the entry
// point would not be exported there: declare `ORVANE_MODINIT PyInit_x(void)`.
#if defined(__GNUC__) && PY_VERSION_HEX < 0x03090000
#define ORVANE_MODINIT extern "C" __attribute__((visibility("default"))) PyObject*
#else
#define ORVANE_MODINIT PyMODINIT_FUNC
#endif

namespace orvane {

class Ref {
public:
    Ref() noexcept = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            PyObject* old = p_;
            p_ = other.p_;
            other.p_ = nullptr;
            Py_XDECREF(old);
        }
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    // Takes over a new reference (the result of most C API calls); null stays null.
    static Ref steal(PyObject* p) noexcept { return Ref(p); }
    // Adds a reference to a borrowed object.
    static Ref borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return Ref(p);
    }

    PyObject* get() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    // Gives the reference away (to a function that steals it, or as a result).
    PyObject* release() noexcept {
        PyObject* p = p_;
        p_ = nullptr;
        return p;
    }
    void reset(PyObject* p = nullptr) noexcept {
        PyObject* old = p_;
        p_ = p;
        Py_XDECREF(old);
    }

private:
    explicit Ref(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

// ---- version shims -------------------------------------------------------

inline PyObject* new_ref(PyObject* o) {
    Py_INCREF(o);
    return o;
}

inline PyObject* vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf,
                            PyObject* kwnames) {
#if PY_VERSION_HEX >= 0x03090000
    return PyObject_Vectorcall(callable, args, nargsf, kwnames);
#else
    return _PyObject_Vectorcall(callable, args, nargsf, kwnames);
#endif
}

inline PyObject* call1(PyObject* callable, PyObject* arg) {
    PyObject* args[2] = {nullptr, arg};
    return vectorcall(callable, args + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr);
}

inline PyObject* call0(PyObject* callable) {
    return vectorcall(callable, nullptr, 0, nullptr);
}

// Calls `obj.name(*args)` without building a bound method where possible.
inline PyObject* call_method(PyObject* obj, PyObject* name, PyObject* const* args,
                             size_t nargs) {
#if PY_VERSION_HEX >= 0x03090000
    PyObject* stack[16];
    if (nargs < 16) {
        stack[0] = obj;
        for (size_t i = 0; i < nargs; ++i) stack[i + 1] = args[i];
        return PyObject_VectorcallMethod(name, stack, (nargs + 1) | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                         nullptr);
    }
#endif
    Ref meth = Ref::steal(PyObject_GetAttr(obj, name));
    if (!meth) return nullptr;
    return vectorcall(meth.get(), args, nargs, nullptr);
}

// ---- C++ exceptions never unwind through the interpreter -------------------

// Runs `body` (returning PyObject* or int) and turns a C++ exception into a
// Python one: std::bad_alloc becomes MemoryError, anything else SystemError.
//
// Not noexcept, and the forced unwind is let through: when a daemon thread
// takes the interpreter lock back after finalisation has begun, CPython (up
// to 3.13) ends it with pthread_exit, which unwinds the thread's stack with
// abi::__forced_unwind. Swallowing that aborts the process ("FATAL:
// exception not rethrown").
template <class R, class F>
R guarded(R on_error, F&& body) {
    try {
        return body();
#if defined(__GLIBCXX__)
    } catch (abi::__forced_unwind&) {
        throw;
#endif
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_Format(PyExc_SystemError, "internal error: %s", e.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "internal error");
    }
    return on_error;
}

template <class F>
PyObject* guarded(F&& body) {
    return guarded<PyObject*>(nullptr, std::forward<F>(body));
}

}  // namespace orvane
