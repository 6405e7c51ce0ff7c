// Interned names kept for the life of the process.
//
// Each module interns the attribute names, keys and fixed texts it uses at
// initialisation, so that lookups at call time compare by identity. The
// strings are never released (a module is initialised once per process).
#pragma once

#include "common/ref.h"

#include <cstddef>

namespace orvane {

struct Interned {
    PyObject** slot;
    const char* text;
};

// Interns `text` into `slot`. Returns false with an exception set.
inline bool intern(PyObject*& slot, const char* text) {
    slot = PyUnicode_InternFromString(text);
    return slot != nullptr;
}

// Interns every text of the table into its slot; slots already filled are
// left as they are. Returns false with an exception set.
template <std::size_t N>
inline bool intern_all(const Interned (&items)[N]) {
    for (const Interned& it : items)
        if (!*it.slot && !intern(*it.slot, it.text)) return false;
    return true;
}

}  // namespace orvane

// Declares the struct `Struct` with one `PyObject*` member per entry of the
// list macro `LIST` and an `init()` that interns them all, so each name is
// written once:
//
//   #define QUOTE_NAMES(X) X(Decimal, "Decimal") X(dunder_init, "__init__")
//   ORVANE_INTERNED(Names, QUOTE_NAMES);
//   Names n;  n.init();  ... n.Decimal ...
#define ORVANE_INTERNED_MEMBER(member, text) PyObject* member = nullptr;
#define ORVANE_INTERNED_ENTRY(member, text) {&member, text},
#define ORVANE_INTERNED(Struct, LIST)                                          \
    struct Struct {                                                            \
        LIST(ORVANE_INTERNED_MEMBER)                                           \
        bool init() {                                                          \
            /* named so that no entry's member can hide it */                 \
            const ::orvane::Interned orvane_table_[] = {LIST(ORVANE_INTERNED_ENTRY)}; \
            return ::orvane::intern_all(orvane_table_);                        \
        }                                                                      \
    }
