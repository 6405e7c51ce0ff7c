// datetime.isoformat() of the records' own datetimes, written directly.
//
// to_dict(raw=True) turns each record's datetime into its isoformat(). The C
// datetime class builds that text through a printf-style format, several
// times the cost of everything else to_dict does for the value; for a naive
// instance of exactly that class (whose isoformat() cannot be replaced) the
// same text is written here. Any other datetime calls its isoformat().
#pragma once

#include "backend/solace/module_state.h"

#include <datetime.h>

#include <cstring>

namespace orvane {
namespace solace {

// Remembers the C datetime class, when the interpreter has one (without the
// C module, datetime is pure Python and every datetime calls isoformat()).
// Returns false with an exception set.
inline bool remember_datetime_class() {
    auto* api = static_cast<PyDateTime_CAPI*>(PyCapsule_Import(PyDateTime_CAPSULE_NAME, 0));
    if (!api) {
        if (!PyErr_ExceptionMatches(PyExc_ImportError) && !PyErr_ExceptionMatches(PyExc_AttributeError))
            return false;
        PyErr_Clear();
        return true;
    }
    state.datetime_class = reinterpret_cast<PyObject*>(api->DateTimeType);  // a static type
    return true;
}

// True when `v` is an instance of exactly the C datetime class without a tzinfo.
inline bool is_naive_c_datetime(PyObject* v) {
    return state.datetime_class && reinterpret_cast<PyObject*>(Py_TYPE(v)) == state.datetime_class &&
           !reinterpret_cast<_PyDateTime_BaseTZInfo*>(v)->hastzinfo;
}

// v.isoformat() for a naive C datetime (is_naive_c_datetime):
// "YYYY-MM-DDTHH:MM:SS", then ".ffffff" when the microseconds are not 0.
// New reference.
inline PyObject* naive_isoformat(PyObject* v) {
    char text[26];
    char* p = text;
    auto put = [&p](int value, int width) {
        for (int i = width - 1; i >= 0; --i) {
            p[i] = static_cast<char>('0' + value % 10);
            value /= 10;
        }
        p += width;
    };
    put(PyDateTime_GET_YEAR(v), 4);
    *p++ = '-';
    put(PyDateTime_GET_MONTH(v), 2);
    *p++ = '-';
    put(PyDateTime_GET_DAY(v), 2);
    *p++ = 'T';
    put(PyDateTime_DATE_GET_HOUR(v), 2);
    *p++ = ':';
    put(PyDateTime_DATE_GET_MINUTE(v), 2);
    *p++ = ':';
    put(PyDateTime_DATE_GET_SECOND(v), 2);
    if (const int us = PyDateTime_DATE_GET_MICROSECOND(v)) {
        *p++ = '.';
        put(us, 6);
    }
    const Py_ssize_t n = p - text;
    PyObject* s = PyUnicode_New(n, 127);
    if (s) std::memcpy(PyUnicode_1BYTE_DATA(s), text, static_cast<size_t>(n));
    return s;
}

}  // namespace solace
}  // namespace orvane
