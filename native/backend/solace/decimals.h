// Text to Decimal conversion for the market-data factories.
//
// Prices arrive as texts ("1015.5", "0.01") and are turned into exact
// `Decimal`s by calling the module's `Decimal`, looked up at each call. A
// Decimal is immutable and a price text recurs on tick after tick, so while
// the module's `Decimal` is the real `decimal.Decimal` of the C implementation
// (a class nobody can change) the result for a plain
// number text (optional sign, digits, at most one point) is kept in a
// direct-mapped table indexed by the text's hash and handed out again; a text
// that lands on a taken entry replaces what it held. Such a text always
// converts, exactly and independent of the decimal context, so the cache never
// changes a result or hides an error; any other text or object goes to
// `Decimal` itself.
#pragma once

#include "backend/solace/module_state.h"
#include "common/class_watch.h"
#include "common/list_builder.h"
#include "common/text.h"

#include <cstdint>

namespace orvane {
namespace solace {

// Keeps the module's `Decimal`, as just imported, as the class whose results
// the caches below may hold. Only an immutable class qualifies (the C
// implementation): the pure-Python one can have its `__new__` or `__str__`
// replaced, and then every conversion goes to it. Returns false with an
// exception set.
inline bool remember_real_decimal() {
    PyObject* d = PyDict_GetItemWithError(state.dict, state.names.Decimal);
    if (!d) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_ImportError, "cannot import name 'Decimal'");
        return false;
    }
    if (PyType_Check(d) && type_is_immutable(reinterpret_cast<PyTypeObject*>(d)))
        state.real_decimal = new_ref(d);
    return true;
}

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

// The Decimals of the text cache come back in record after record, and
// to_dict(raw=True) turns each into its str(). Their texts are kept in a
// small direct-mapped table keyed by object identity, filled when a Decimal
// enters the text cache (so short-lived Decimals, such as a computed
// percentage, are never kept alive by it). Only texts without an exponent are
// kept: str() writes the exponent letter after the context's `capitals`, and
// a text without one is the same in every context.
inline CacheEntry& decimal_text_slot(PyObject* v) {
    const uintptr_t addr = reinterpret_cast<uintptr_t>(v);
    return state.decimal_text[((addr >> 4) ^ (addr >> 13)) & (kDecimalTextSlots - 1)];
}

// The entry of the text cache for a text whose hash is `h`.
inline CacheEntry& decimal_cache_slot(Py_hash_t h) {
    const size_t u = static_cast<size_t>(h);
    return state.decimal_cache[(u ^ (u >> 16)) & (kDecimalCacheSlots - 1)];
}

inline void remember_text(PyObject* d) {
    PyObject* text = PyObject_Str(d);
    if (!text) {
        PyErr_Clear();  // only a missed shortcut; str() will run again when needed
        return;
    }
    if (!PyUnicode_IS_ASCII(text)) {
        Py_DECREF(text);
        return;
    }
    const char* c = reinterpret_cast<const char*>(PyUnicode_1BYTE_DATA(text));
    for (Py_ssize_t i = 0, n = PyUnicode_GET_LENGTH(text); i < n; ++i) {
        if (c[i] == 'E' || c[i] == 'e') {
            Py_DECREF(text);
            return;
        }
    }
    decimal_text_slot(d).replace(d, text);
    Py_DECREF(text);
}

// True when `v` is an instance of exactly the real Decimal class, whose str()
// runs no Python code.
inline bool is_real_decimal(PyObject* v) {
    return state.real_decimal && reinterpret_cast<PyObject*>(Py_TYPE(v)) == state.real_decimal;
}

// str(v), from the table when `v` is one of the Decimals it holds.
inline PyObject* decimal_str(PyObject* v) {
    if (is_real_decimal(v)) {
        const CacheEntry& slot = decimal_text_slot(v);
        if (slot.key == v) return new_ref(slot.value);
    }
    return PyObject_Str(v);
}

// `Decimal(x)` with `decimal` the module's Decimal, just looked up by the
// caller. New reference.
inline PyObject* to_decimal(PyObject* decimal, PyObject* x) {
    if (!state.real_decimal || decimal != state.real_decimal || !PyUnicode_CheckExact(x)) {
        Ref keep = Ref::borrow(decimal);  // any callable may stand in for Decimal
        return call1(decimal, x);
    }
    // The hash of an exact str is computed once and kept in the object,
    // where it is read directly; computing it fails only when an old-style
    // str cannot be made ready.
    Py_hash_t h = reinterpret_cast<PyASCIIObject*>(x)->hash;
    if (h == -1 && (h = PyObject_Hash(x)) == -1) return nullptr;
    CacheEntry& slot = decimal_cache_slot(h);
    if (slot.key && (slot.key == x || same_text(slot.key, x))) return new_ref(slot.value);
    PyObject* d = call1(decimal, x);
    if (d && is_real_decimal(d) && plain_number(x)) {
        slot.replace(x, d);
        remember_text(d);
    }
    return d;
}

// The module's `Decimal` for the conversions of one factory call. Python
// code looks the name up at each use; the lookup is kept from one conversion
// to the next only while nothing has run that could rebind it: converting an
// exact str with the real Decimal class runs no Python code (and allocates
// nothing the collector tracks), anything else may, and then the next use
// looks the name up afresh.
class DecimalName {
public:
    PyObject* get() {
        if (!decimal_) decimal_ = state.global_ref(state.names.Decimal);
        return decimal_.get();
    }
    // After Decimal(x) with the Decimal that get() gave.
    void used_on(PyObject* x) {
        if (decimal_.get() != state.real_decimal || !PyUnicode_CheckExact(x)) decimal_.reset();
    }
    // After a step that may have run Python code.
    void forget() { decimal_.reset(); }

private:
    Ref decimal_;
};

// `Decimal(x)`, the name looked up through `name`.
inline PyObject* decimal_of(PyObject* x, DecimalName& name) {
    PyObject* decimal = name.get();
    if (!decimal) return nullptr;
    PyObject* d = to_decimal(decimal, x);
    name.used_on(x);
    return d;
}

// `Decimal(x)` with `Decimal` looked up in the module namespace now.
inline PyObject* decimal_of(PyObject* x) {
    DecimalName name;
    return decimal_of(x, name);
}

// `Decimal(x) if x else Decimal("0.0")` for x a str or None.
inline PyObject* decimal_or_zero(PyObject* x, DecimalName& name) {
    const bool empty = x == Py_None || (PyUnicode_Check(x) && PyUnicode_GET_LENGTH(x) == 0);
    return decimal_of(empty ? state.names.text_0_0 : x, name);
}

// `Decimal(x) * Decimal("0.01")`: a rate given in hundredths of a percent,
// as a percentage. Each Decimal is looked up as it is called.
inline PyObject* percent_of(PyObject* x, DecimalName& name) {
    Ref rate = Ref::steal(decimal_of(x, name));
    if (!rate) return nullptr;
    Ref hundredth = Ref::steal(decimal_of(state.names.text_0_01, name));
    if (!hundredth) return nullptr;
    // Two real Decimals multiply in C; anything else may run Python code.
    if (!is_real_decimal(rate.get()) || !is_real_decimal(hundredth.get())) name.forget();
    return PyNumber_Multiply(rate.get(), hundredth.get());
}

// `list(map(Decimal, x))`: a new list, Decimal applied to each element in order.
// Making the list may run the collector, so `name` is looked up afresh next.
inline PyObject* decimal_list(PyObject* x, DecimalName& name) {
    Ref keep_decimal = Ref::borrow(name.get());  // map() holds its function
    name.forget();
    PyObject* decimal = keep_decimal.get();
    if (!decimal) return nullptr;
    ListBuilder<> out;
    if (PyList_CheckExact(x) || PyTuple_CheckExact(x)) {
        Ref seq = Ref::borrow(x);
        // The length is read afresh: decimal may be any callable, even one
        // that changes the list while it is being walked.
        for (Py_ssize_t i = 0; i < Py_SIZE(x); ++i) {
            Ref item = Ref::borrow(PyList_CheckExact(x) ? PyList_GET_ITEM(x, i) : PyTuple_GET_ITEM(x, i));
            if (!out.add(to_decimal(decimal, item.get()))) return nullptr;
        }
        return out.finish();
    }
    Ref it = Ref::steal(PyObject_GetIter(x));
    if (!it) return nullptr;
    while (true) {
        Ref item = Ref::steal(PyIter_Next(it.get()));
        if (!item) {
            if (PyErr_Occurred()) return nullptr;
            break;
        }
        if (!out.add(to_decimal(decimal, item.get()))) return nullptr;
    }
    return out.finish();
}

}  // namespace solace
}  // namespace orvane
