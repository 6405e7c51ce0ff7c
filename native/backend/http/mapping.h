// Mapping helpers shared by the HTTP-backend modules (contract, account).
//
// They reproduce, in C, what the equivalent Python expressions do, including
// their errors: `f(**m)`, `m.get(k, default)`, `m[k]`, `for k, v in pairs`.
// An exact dict takes a direct path; anything else goes through the object's
// own methods, so dict subclasses and other mappings behave as in Python.
#pragma once

#include "common/ref.h"

namespace orvane {
namespace http {

// KeyError(key) as dict raises it (a tuple key stays a single argument).
inline void set_key_error(PyObject* key) {
    Ref t = Ref::steal(PyTuple_Pack(1, key));
    if (t) PyErr_SetObject(PyExc_KeyError, t.get());
}

// The prefix CPython puts before "argument after ** must be a mapping" when
// the call is `"...".format(**m)` (3.9 names the method with its type).
#if PY_VERSION_HEX >= 0x03090000
inline constexpr const char* kFormatFn = "str.format()";
#else
inline constexpr const char* kFormatFn = "format()";
#endif

// The keyword dictionary `**m` gives a call: an exact dict is used as it is
// (a new reference to `m`, which the caller must not modify); anything else is
// copied into a new dict through keys() and [] (PyDict_Merge). As in CPython,
// an AttributeError while copying (an object without keys(), or one raised by
// keys() itself) becomes "<fn> argument after ** must be a mapping, not <type>";
// the object is not asked anything more while that error is pending.
inline PyObject* kwargs_of(PyObject* m, const char* fn) {
    if (PyDict_CheckExact(m)) return new_ref(m);
    Ref d = Ref::steal(PyDict_New());
    if (!d) return nullptr;
    if (PyDict_Merge(d.get(), m, 1) < 0) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError, "%s argument after ** must be a mapping, not %.200s", fn,
                         Py_TYPE(m)->tp_name);
        }
        return nullptr;
    }
    return d.release();
}

// Like kwargs_of, but always a new dict the caller owns and may change.
inline PyObject* kwargs_copy(PyObject* m, const char* fn) {
    if (PyDict_CheckExact(m)) return PyDict_Copy(m);
    return kwargs_of(m, fn);
}

// A named field of str.format looked up in a keyword dict: KeyError(name) when
// absent. New reference (formatting the value runs Python code, which may
// change the dict).
inline PyObject* field(PyObject* kwargs, PyObject* name) {
    PyObject* v = PyDict_GetItemWithError(kwargs, name);
    if (!v) {
        if (!PyErr_Occurred()) set_key_error(name);
        return nullptr;
    }
    return new_ref(v);
}

// `m[key]`: new reference.
inline PyObject* getitem(PyObject* m, PyObject* key) {
    if (PyDict_CheckExact(m)) {
        PyObject* v = PyDict_GetItemWithError(m, key);
        if (!v) {
            if (!PyErr_Occurred()) set_key_error(key);
            return nullptr;
        }
        return new_ref(v);
    }
    return PyObject_GetItem(m, key);
}

// `m.get(key, default)`: new reference. `dflt` is borrowed; for anything but an
// exact dict the object's own get() is called, so an object without one raises
// the ordinary AttributeError.
inline PyObject* get(PyObject* m, PyObject* get_name, PyObject* key, PyObject* dflt) {
    if (PyDict_CheckExact(m)) {
        PyObject* v = PyDict_GetItemWithError(m, key);
        if (v) return new_ref(v);
        if (PyErr_Occurred()) return nullptr;
        return new_ref(dflt);
    }
    PyObject* args[2] = {key, dflt};
    return call_method(m, get_name, args, 2);
}

// `k, v = item` for a two-element unpacking target. New references in k and v.
inline bool unpack_pair(PyObject* item, Ref& k, Ref& v) {
    if (PyTuple_CheckExact(item) || PyList_CheckExact(item)) {
        const Py_ssize_t n = PySequence_Fast_GET_SIZE(item);
        if (n == 2) {
            k = Ref::borrow(PySequence_Fast_GET_ITEM(item, 0));
            v = Ref::borrow(PySequence_Fast_GET_ITEM(item, 1));
            return true;
        }
        if (n < 2)
            PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected 2, got %zd)", n);
        else
            PyErr_SetString(PyExc_ValueError, "too many values to unpack (expected 2)");
        return false;
    }
    Ref it = Ref::steal(PyObject_GetIter(item));
    if (!it) {
        if (PyErr_ExceptionMatches(PyExc_TypeError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError, "cannot unpack non-iterable %.200s object",
                         Py_TYPE(item)->tp_name);
        }
        return false;
    }
    Ref* out[2] = {&k, &v};
    for (int i = 0; i < 2; ++i) {
        *out[i] = Ref::steal(PyIter_Next(it.get()));
        if (!*out[i]) {
            if (!PyErr_Occurred())
                PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected 2, got %d)", i);
            return false;
        }
    }
    Ref extra = Ref::steal(PyIter_Next(it.get()));
    if (extra) {
        PyErr_SetString(PyExc_ValueError, "too many values to unpack (expected 2)");
        return false;
    }
    return !PyErr_Occurred();
}

// Walks an iterable the way `for x in seq` does, calling `fn(item)` (a
// borrowed reference that stays alive for the call) until it returns false.
// A list is walked by index, re-reading its length at each step, which is
// what the list iterator does.
template <class F>
inline bool for_each(PyObject* seq, F&& fn) {
    if (PyList_CheckExact(seq)) {
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(seq); ++i) {
            Ref item = Ref::borrow(PyList_GET_ITEM(seq, i));
            if (!fn(item.get())) return false;
        }
        return true;
    }
    Ref it = Ref::steal(PyObject_GetIter(seq));
    if (!it) return false;
    while (Ref item = Ref::steal(PyIter_Next(it.get()))) {
        if (!fn(item.get())) return false;
    }
    return !PyErr_Occurred();
}

// `for k, v in m.items()`.
template <class F>
inline bool for_each_item(PyObject* m, PyObject* items_name, F&& fn) {
    Ref items = Ref::steal(call_method(m, items_name, nullptr, 0));
    if (!items) return false;
    return for_each(items.get(), [&](PyObject* item) {
        Ref k, v;
        return unpack_pair(item, k, v) && fn(k.get(), v.get());
    });
}

}  // namespace http
}  // namespace orvane
