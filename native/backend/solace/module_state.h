// Per-module state of the market-data modules (quote and depth).
//
// Each of the two extension modules is built from its own sources plus the
// shared headers of this folder, and defines exactly one `state` object. A
// module is initialised once per process, so the state is a plain static that
// holds strong references for the life of the process.
//
// Names that the record methods use at call time (`Decimal`, `dt`,
// `datetime_parser`, ...) are NOT cached here as objects: only the interned
// keys are, and the objects are read from the module dict on every call.
#pragma once

#include "common/names.h"
#include "common/classes.h"
#include "common/ref.h"

namespace orvane {
namespace solace {

// Interned texts used as dict keys and attribute names.
struct Names {
    PyObject* Decimal = nullptr;
    PyObject* datetime_parser = nullptr;
    PyObject* dt = nullptr;
    PyObject* datetime = nullptr;
    PyObject* isoformat = nullptr;
    PyObject* slots = nullptr;           // "__slots__"
    PyObject* class_ = nullptr;          // "__class__"
    PyObject* dunder_init = nullptr;     // "__init__"
    PyObject* keys = nullptr;
    PyObject* getitem = nullptr;         // "__getitem__"
    PyObject* transform_raw = nullptr;   // "_transform_raw"
    PyObject* startswith = nullptr;
    PyObject* underscore = nullptr;      // "_"
    PyObject* bid_price = nullptr;
    PyObject* ask_price = nullptr;
    PyObject* empty = nullptr;           // ""
    PyObject* text_0_01 = nullptr;       // "0.01"
    PyObject* text_0_0 = nullptr;        // "0.0"

    bool init() {
        const orvane::Interned items[] = {
            {&Decimal, "Decimal"},       {&datetime_parser, "datetime_parser"},
            {&dt, "dt"},                 {&datetime, "datetime"},
            {&isoformat, "isoformat"},   {&slots, "__slots__"},
            {&class_, "__class__"},     {&dunder_init, "__init__"},
            {&keys, "keys"},             {&getitem, "__getitem__"},
            {&transform_raw, "_transform_raw"},
            {&startswith, "startswith"}, {&underscore, "_"},
            {&bid_price, "bid_price"},   {&ask_price, "ask_price"},
            {&empty, ""},                {&text_0_01, "0.01"},
            {&text_0_0, "0.0"},
        };
        return orvane::intern_all(items);
    }
};

// One entry of the cache from a Decimal object to its str() (decimals.h).
// Both references are strong, so the object cannot die and its address
// cannot be reused while the entry holds it.
struct DecimalText {
    PyObject* decimal = nullptr;
    PyObject* text = nullptr;
};
constexpr size_t kDecimalTextSlots = 4096;  // a power of two

struct ModuleState {
    PyObject* module = nullptr;        // strong reference, never released
    PyObject* dict = nullptr;          // the module's namespace (borrowed from module)
    const char* repr_kind = "";        // "Quote" or "Depth"
    PyObject* real_decimal = nullptr;  // decimal.Decimal as imported, if immutable (decimals.h)
    PyObject* base = nullptr;          // QuoteBase / DepthBase
    PyObject* getitem_descr = nullptr; // the base class's own __getitem__ descriptor
    PyObject* transform_fn = nullptr; // the function inside the base's _transform_raw
    PyObject* object_class = nullptr;  // object's own __class__ descriptor
    PyObject* decimal_cache = nullptr; // dict: plain number text -> Decimal (see decimals.h)
    DecimalText decimal_text[kDecimalTextSlots];  // Decimal -> str (see decimals.h)
    Names names;

    // `name` from the module namespace (or builtins), looked up now. Borrowed.
    PyObject* global(PyObject* name) const { return orvane::global(dict, name); }
    // The same as a strong reference, for an object about to run Python code
    // (which may rebind the name and drop the namespace's reference).
    Ref global_ref(PyObject* name) const { return Ref::borrow(global(name)); }
};

// Defined once by each module (quote.cpp, depth.cpp).
extern ModuleState state;

}  // namespace solace
}  // namespace orvane
