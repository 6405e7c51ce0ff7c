// Initialisation shared by the quote and depth modules.
#pragma once

#include "common/ref.h"

#include <initializer_list>

namespace orvane {
namespace solace {

class RecordClass;

// `from <from> import <names...>`, absolute.
struct Import {
    const char* from;
    std::initializer_list<const char*> names;
};

// Creates the module `def` and binds its names in this order: `dt`, the
// typing names, `Decimal`, `datetime_parser` from the sibling `utils`, then
// `imports`, the base class "<kind>Base", each of `records`, and last what
// `add_functions` binds (if given). `kind` is also the name in the records'
// repr. Returns the module, or null with an exception set.
PyObject* init_module(PyModuleDef& def, const char* kind, std::initializer_list<Import> imports,
                      std::initializer_list<RecordClass*> records,
                      bool (*add_functions)(PyObject* module) = nullptr);

}  // namespace solace
}  // namespace orvane
