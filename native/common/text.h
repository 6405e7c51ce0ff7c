// Small text and call helpers every binding shares: the argument check
// "must be str or None", comparing two str objects without running Python
// code, the text of a "{name}" format field, and calling a module-level name
// looked up at call time.
#pragma once

#include "common/classes.h"
#include "common/ref.h"

#include <cstring>

namespace orvane {

// True when `s` is a str whose characters can be read directly (always from
// 3.12 on; older interpreters may still have to build the canonical form).
inline bool text_ready(PyObject* s) {
#if PY_VERSION_HEX < 0x030C0000
    return PyUnicode_READY(s) == 0;
#else
    (void)s;
    return true;
#endif
}

// Equal text of two str objects, compared character by character: no
// __eq__ of a subclass runs. False (no exception) when one cannot be read.
inline bool same_text(PyObject* a, PyObject* b) {
    if (a == b) return true;
    if (!text_ready(a) || !text_ready(b)) {
        PyErr_Clear();
        return false;
    }
    const Py_ssize_t len = PyUnicode_GET_LENGTH(a);
    return len == PyUnicode_GET_LENGTH(b) && PyUnicode_KIND(a) == PyUnicode_KIND(b) &&
           std::memcmp(PyUnicode_DATA(a), PyUnicode_DATA(b),
                       static_cast<size_t>(len) * PyUnicode_KIND(a)) == 0;
}

// `value` is a str or None; otherwise TypeError "<what> must be str or None,
// not <type>".
inline bool str_or_none(PyObject* value, const char* what) {
    if (value == Py_None || PyUnicode_Check(value)) return true;
    PyErr_Format(PyExc_TypeError, "%s must be str or None, not %.200s", what, Py_TYPE(value)->tp_name);
    return false;
}

// The same check worded as CPython words a bad argument:
// "<func>() argument '<arg>' must be str or None, not <type>".
inline bool str_or_none(PyObject* value, const char* func, const char* arg) {
    if (value == Py_None || PyUnicode_Check(value)) return true;
    PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be str or None, not %.200s", func, arg,
                 Py_TYPE(value)->tp_name);
    return false;
}

// `format(v, "")`, the text a "{name}" field of str.format produces. An exact
// str is its own text; anything else runs its __format__. New reference.
inline PyObject* format_field(PyObject* v, PyObject* empty) {
    if (PyUnicode_CheckExact(v)) return new_ref(v);
    return PyObject_Format(v, empty);
}

// Calls the module-level name `name` (looked up now in `module_dict`, then
// the builtins) with positional arguments, holding the function while it
// runs: the code it runs may rebind the name. New reference.
inline PyObject* call_global(PyObject* module_dict, PyObject* name, PyObject* const* args, size_t nargs) {
    Ref fn = Ref::borrow(global(module_dict, name));
    if (!fn) return nullptr;
    return vectorcall(fn.get(), args, nargs, nullptr);
}

}  // namespace orvane
