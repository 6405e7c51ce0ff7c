// State of the market-data modules (quote and depth).
//
// Each of the two extension modules is built from its own sources plus the
// shared sources of this folder, and holds exactly one `state` object
// (module.cpp), filled once by init_module(). A module is initialised once
// per process, so the state is a plain static that holds strong references
// for the life of the process.
//
// Names that the record methods use at call time (`Decimal`, `dt`,
// `datetime_parser`, ...) are NOT cached here as objects: only the interned
// keys are, and the objects are read from the module dict on every call.
#pragma once

#include "common/classes.h"
#include "common/names.h"
#include "common/ref.h"

#include <cstddef>

namespace orvane {
namespace solace {

class RecordClass;

// Interned texts used as dict keys, attribute names and fixed texts: those of
// the records, then those of the topic functions.
#define SOLACE_RECORD_NAMES(X)                                                     \
    X(Decimal, "Decimal") X(datetime_parser, "datetime_parser") X(dt, "dt")        \
    X(datetime, "datetime") X(isoformat, "isoformat") X(slots, "__slots__")        \
    X(class_, "__class__") X(dunder_init, "__init__") X(keys, "keys")              \
    X(getitem, "__getitem__") X(transform_raw, "_transform_raw")                   \
    X(startswith, "startswith") X(underscore, "_") X(bid_price, "bid_price")       \
    X(ask_price, "ask_price") X(empty, "") X(text_0_01, "0.01") X(text_0_0, "0.0")
#define SOLACE_TOPIC_NAMES(X)                                                      \
    X(QuoteType, "QuoteType") X(QuoteVersion, "QuoteVersion") X(Exchange, "Exchange") \
    X(Future, "Future") X(Option, "Option") X(Stock, "Stock") X(Index, "Index")    \
    X(Tick, "Tick") X(Depth, "Depth") X(Quote, "Quote") X(v0, "v0") X(v1, "v1")    \
    X(TSE, "TSE") X(OTC, "OTC") X(OES, "OES") X(TAIFEX, "TAIFEX") X(code, "code")  \
    X(exchange, "exchange") X(v1contract2topic, "v1contract2topic") X(slash, "/")
#define SOLACE_NAMES(X) SOLACE_RECORD_NAMES(X) SOLACE_TOPIC_NAMES(X)

ORVANE_INTERNED(Names, SOLACE_NAMES);

// One entry of a direct-mapped cache of decimals.h: a key and the value kept
// for it. Both references are strong, so the key cannot die and its address
// cannot be reused while the entry holds it. Only exact str and real Decimal
// objects are kept, whose release runs no Python code.
struct CacheEntry {
    PyObject* key = nullptr;
    PyObject* value = nullptr;

    // Keeps `v` for `k` (borrowed references), in place of what it held.
    void replace(PyObject* k, PyObject* v) {
        PyObject* old_key = key;
        PyObject* old_value = value;
        key = new_ref(k);
        value = new_ref(v);
        Py_XDECREF(old_key);
        Py_XDECREF(old_value);
    }
};
constexpr size_t kDecimalTextSlots = 4096;   // Decimal -> str; a power of two
constexpr size_t kDecimalCacheSlots = 8192;  // number text -> Decimal; a power of two

// The most record classes one module makes.
constexpr size_t kMaxRecords = 4;

struct State {
    PyObject* module = nullptr;        // strong reference, never released
    PyObject* dict = nullptr;          // the module's namespace (borrowed from module)
    const char* repr_kind = "";        // "Quote" or "Depth"
    PyObject* real_decimal = nullptr;  // decimal.Decimal as imported, if immutable (decimals.h)
    PyObject* datetime_class = nullptr;  // the C datetime.datetime, if any (iso_datetime.h)
    PyObject* base = nullptr;          // QuoteBase / DepthBase
    PyObject* getitem_descr = nullptr; // the base class's own __getitem__ descriptor
    PyObject* transform_fn = nullptr;  // the function inside the base's _transform_raw
    PyObject* object_class = nullptr;  // object's own __class__ descriptor
    PyObject* default_version = nullptr;  // QuoteVersion.v0 at import (topics.cpp)
    PyObject* no_args = nullptr;       // (), the arguments of object.__new__ (records.cpp)
    RecordClass* records[kMaxRecords] = {};  // the record classes made, for to_dict
    CacheEntry decimal_cache[kDecimalCacheSlots];  // number text -> Decimal (see decimals.h)
    CacheEntry decimal_text[kDecimalTextSlots];    // Decimal -> str (see decimals.h)
    Names names;

    // `name` from the module namespace (or builtins), looked up now. Borrowed.
    PyObject* global(PyObject* name) const { return orvane::global(dict, name); }
    // The same as a strong reference, for an object about to run Python code
    // (which may rebind the name and drop the namespace's reference).
    Ref global_ref(PyObject* name) const { return Ref::borrow(global(name)); }
};

// The one state of this module (module.cpp).
extern State state;

}  // namespace solace
}  // namespace orvane
