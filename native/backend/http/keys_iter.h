// The iterator MetaProps.keys() returns.
//
// It behaves as the generator expression
//     (k for k in cls.__dict__ if not k.startswith("_"))
// would if its namespace were read only when iteration begins: nothing is read
// when keys() is called, the class namespace is fetched at the first next(),
// and names added to the class in between are included. Written as a small
// C++ iterator type rather than a real generator; like a generator it reports
// __name__ "genexpr" and __qualname__ "MetaProps.keys.<locals>.genexpr", is
// its own iterator, and stays exhausted once it has finished or raised.
#pragma once

#include "common/ref.h"

namespace orvane {
namespace constant {

// Creates the iterator type and keeps it for the process. Call once at module
// initialisation.
bool init_keys_iter(PyObject* module);

// A new iterator over the public names of `cls`.
PyObject* new_keys_iter(PyObject* cls);

}  // namespace constant
}  // namespace orvane
