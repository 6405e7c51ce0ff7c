// Text to Decimal conversion for the market-data factories.
//
// Prices arrive as texts ("1015.5", "0.01") and are turned into exact
// `Decimal`s by calling the module's `Decimal`, looked up at each call. A
// Decimal is immutable and a price text recurs on tick after tick, so while
// the module's `Decimal` is the real `decimal.Decimal` the result for a plain
// number text (optional sign, digits, at most one point) is kept in a bounded
// dict and handed out again. Such a text always converts, exactly and
// independent of the decimal context, so the cache never changes a result or
// hides an error; any other text or object goes to `Decimal` itself.
#pragma once

#include "backend/solace/module_state.h"

#include <cstdint>

namespace orvane {
namespace solace {

// Entries kept before the cache is emptied and refilled.
constexpr Py_ssize_t kDecimalCacheSize = 16384;
// Longest text the cache takes (a price or amount is far shorter).
constexpr Py_ssize_t kDecimalCacheTextMax = 40;

// True when `text` (an exact str) is [+-]digits[.digits] or [+-][digits].digits.
inline bool plain_number(PyObject* text) {
    if (!PyUnicode_IS_ASCII(text)) return false;
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    if (n == 0 || n > kDecimalCacheTextMax) return false;
    const unsigned char* c = PyUnicode_1BYTE_DATA(text);
    Py_ssize_t i = (c[0] == '-' || c[0] == '+') ? 1 : 0;
    bool digit = false, point = false;
    for (; i < n; ++i) {
        if (c[i] >= '0' && c[i] <= '9') {
            digit = true;
        } else if (c[i] == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    return digit;
}

// `Decimal(x)` with `Decimal` the object the caller just looked up. New reference.
inline PyObject* to_decimal(PyObject* Decimal, PyObject* x) {
    if (Decimal != state.real_decimal || !PyUnicode_CheckExact(x)) return call1(Decimal, x);
    PyObject* hit = PyDict_GetItemWithError(state.decimal_cache, x);
    if (hit) return new_ref(hit);
    if (PyErr_Occurred()) return nullptr;
    PyObject* d = call1(Decimal, x);
    if (d && plain_number(x)) {
        if (PyDict_GET_SIZE(state.decimal_cache) >= kDecimalCacheSize)
            PyDict_Clear(state.decimal_cache);
        if (PyDict_SetItem(state.decimal_cache, x, d) < 0) {
            Py_DECREF(d);
            return nullptr;
        }
    }
    return d;
}

// str(v); for a Decimal `v` possibly from the table below. Records share the Decimals of the text cache, so
// the same objects come back on every to_dict(raw=True); their texts are kept
// in a small direct-mapped table keyed by object identity. Only objects of
// exactly the real Decimal type are kept (a subclass may define __str__), and
// only texts without an exponent (str() writes the exponent letter after the
// context's `capitals`; a text without one is the same in every context).
inline PyObject* decimal_str(PyObject* v) {
    if (reinterpret_cast<PyObject*>(Py_TYPE(v)) != state.real_decimal) return PyObject_Str(v);
    const uintptr_t addr = reinterpret_cast<uintptr_t>(v);
    DecimalText& slot = state.decimal_text[((addr >> 4) ^ (addr >> 13)) & (kDecimalTextSlots - 1)];
    if (slot.decimal == v) return new_ref(slot.text);
    PyObject* text = PyObject_Str(v);
    if (!text || !PyUnicode_IS_ASCII(text)) return text;
    const char* c = reinterpret_cast<const char*>(PyUnicode_1BYTE_DATA(text));
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    for (Py_ssize_t i = 0; i < n; ++i)
        if (c[i] == 'E' || c[i] == 'e') return text;
    PyObject* old_decimal = slot.decimal;
    PyObject* old_text = slot.text;
    slot.decimal = new_ref(v);
    slot.text = new_ref(text);
    Py_XDECREF(old_decimal);
    Py_XDECREF(old_text);
    return text;
}

// `Decimal(x)` with `Decimal` looked up in the module namespace now.
inline PyObject* decimal_of(PyObject* x) {
    PyObject* Decimal = state.global(state.names.Decimal);
    return Decimal ? to_decimal(Decimal, x) : nullptr;
}

// `Decimal(x) if x else Decimal("0.0")` for x a str or None.
inline PyObject* decimal_or_zero(PyObject* x) {
    PyObject* Decimal = state.global(state.names.Decimal);
    if (!Decimal) return nullptr;
    const bool empty = x == Py_None || (PyUnicode_Check(x) && PyUnicode_GET_LENGTH(x) == 0);
    return to_decimal(Decimal, empty ? state.names.text_0_0 : x);
}

// `list(map(Decimal, x))`: a new list, Decimal applied to each element in order.
inline PyObject* decimal_list(PyObject* x) {
    PyObject* Decimal = state.global(state.names.Decimal);
    if (!Decimal) return nullptr;
    Ref keep_decimal = Ref::borrow(Decimal);  // map() holds its function
    if (PyList_CheckExact(x) || PyTuple_CheckExact(x)) {
        Ref seq = Ref::borrow(x);
        Ref out = Ref::steal(PyList_New(0));
        if (!out) return nullptr;
        // The length is read afresh: Decimal may be any callable, even one
        // that changes the list while it is being walked.
        for (Py_ssize_t i = 0; i < Py_SIZE(x); ++i) {
            Ref item = Ref::borrow(PyList_CheckExact(x) ? PyList_GET_ITEM(x, i) : PyTuple_GET_ITEM(x, i));
            Ref d = Ref::steal(to_decimal(Decimal, item.get()));
            if (!d || PyList_Append(out.get(), d.get()) < 0) return nullptr;
        }
        return out.release();
    }
    Ref it = Ref::steal(PyObject_GetIter(x));
    if (!it) return nullptr;
    Ref out = Ref::steal(PyList_New(0));
    if (!out) return nullptr;
    while (true) {
        Ref item = Ref::steal(PyIter_Next(it.get()));
        if (!item) {
            if (PyErr_Occurred()) return nullptr;
            break;
        }
        Ref d = Ref::steal(to_decimal(Decimal, item.get()));
        if (!d || PyList_Append(out.get(), d.get()) < 0) return nullptr;
    }
    return out.release();
}

// The check made on the text arguments of the factories and on `code` of
// __init__: `value` must be a str or None.
inline bool str_or_none(const char* func, const char* arg, PyObject* value) {
    if (value == Py_None || PyUnicode_Check(value)) return true;
    PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be str or None, not %.200s", func, arg,
                 Py_TYPE(value)->tp_name);
    return false;
}

}  // namespace solace
}  // namespace orvane
