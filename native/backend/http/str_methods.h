// The str operations the HTTP-backend modules build their texts with:
// joining texts in one allocation, and the strip, endswith and startswith
// forms they need. Exact str objects take a direct path; anything else calls
// the object's own methods, so subclasses and other types behave as in
// Python. (Comparing texts and the "{name}" field text are in common/text.h.)
#pragma once

#include "common/ref.h"
#include "common/text.h"

#include <algorithm>
#include <cstring>

namespace orvane {
namespace http {

// Joins the first lens[i] characters of each of N texts (each a ready str)
// into a new str with one allocation. A shortened part must keep its widest
// character (the result's width is taken from the whole parts), as cutting
// ASCII characters off an ASCII text does.
template <size_t N>
inline PyObject* concat_prefixes(PyObject* const (&parts)[N], const Py_ssize_t (&lens)[N]) {
    Py_ssize_t len = 0;
    Py_UCS4 maxc = 0;
    for (size_t i = 0; i < N; ++i) {
        len += lens[i];
        maxc = std::max<Py_UCS4>(maxc, PyUnicode_MAX_CHAR_VALUE(parts[i]));
    }
    if (len == 0) return PyUnicode_New(0, 0);
    Ref out = Ref::steal(PyUnicode_New(len, maxc));
    if (!out) return nullptr;
    Py_ssize_t pos = 0;
    const int kind = PyUnicode_KIND(out.get());
    char* data = static_cast<char*>(PyUnicode_DATA(out.get()));
    for (size_t i = 0; i < N; ++i) {
        PyObject* p = parts[i];
        const Py_ssize_t n = lens[i];
        if (n && PyUnicode_KIND(p) == kind) {
            // Same width: the characters copy as bytes.
            std::memcpy(data + pos * kind, PyUnicode_DATA(p), static_cast<size_t>(n) * kind);
        } else if (n && PyUnicode_CopyCharacters(out.get(), pos, p, 0, n) < 0) {
            return nullptr;
        }
        pos += n;
    }
    return out.release();
}

// Joins N texts (each a str) into a new str with one allocation.
template <size_t N>
inline PyObject* concat(PyObject* const (&parts)[N]) {
    Py_ssize_t lens[N];
    for (size_t i = 0; i < N; ++i) {
        if (!text_ready(parts[i])) return nullptr;
        lens[i] = PyUnicode_GET_LENGTH(parts[i]);
    }
    return concat_prefixes(parts, lens);
}

// Length of `s` without the trailing run of `c` (s an exact, ready str).
inline Py_ssize_t rstrip_len(PyObject* s, Py_UCS4 c, Py_ssize_t end) {
    const int kind = PyUnicode_KIND(s);
    const void* data = PyUnicode_DATA(s);
    while (end > 0 && PyUnicode_READ(kind, data, end - 1) == c) --end;
    return end;
}

// `s.strip(ch)` / `s.rstrip(ch)` with `chs` the one-character str ch, for
// which `method` is the interned method name.
inline PyObject* strip_char(PyObject* s, Py_UCS4 c, PyObject* chs, PyObject* method, bool left) {
    if (!PyUnicode_CheckExact(s)) return call_method(s, method, &chs, 1);
    if (!text_ready(s)) return nullptr;
    const Py_ssize_t len = PyUnicode_GET_LENGTH(s);
    Py_ssize_t start = 0;
    if (left) {
        const int kind = PyUnicode_KIND(s);
        const void* data = PyUnicode_DATA(s);
        while (start < len && PyUnicode_READ(kind, data, start) == c) ++start;
    }
    const Py_ssize_t end = rstrip_len(s, c, len);
    if (start == 0 && end == len) return new_ref(s);
    return PyUnicode_Substring(s, start, end);
}

// `s.endswith(suffix)` as a C truth value (-1 on error).
inline int endswith(PyObject* s, PyObject* suffix, PyObject* method) {
    if (PyUnicode_CheckExact(s)) {
        if (!text_ready(s)) return -1;
        return static_cast<int>(PyUnicode_Tailmatch(s, suffix, 0, PY_SSIZE_T_MAX, 1));
    }
    Ref r = Ref::steal(call_method(s, method, &suffix, 1));
    if (!r) return -1;
    return PyObject_IsTrue(r.get());
}

// `s.startswith(prefix)` for a prefix of underscores, as a C truth value.
inline int starts_with_underscores(PyObject* s, int count, PyObject* prefix, PyObject* method) {
    if (PyUnicode_CheckExact(s)) {
        if (!text_ready(s)) return -1;
        if (PyUnicode_GET_LENGTH(s) < count) return 0;
        for (int i = 0; i < count; ++i)
            if (PyUnicode_READ_CHAR(s, i) != '_') return 0;
        return 1;
    }
    Ref r = Ref::steal(call_method(s, method, &prefix, 1));
    if (!r) return -1;
    return PyObject_IsTrue(r.get());
}

}  // namespace http
}  // namespace orvane
