// The generator MetaProps.keys() returns.
//
// It is a real generator, made by the function
//
//     def genexpr(cls):
//         for k in cls.__dict__:
//             if not k.startswith("_"):
//                 yield k
//
// compiled once at module initialisation, so it has the whole generator
// protocol (send, throw, close, gi_running, "generator already executing"
// when re-entered) from the interpreter itself. Like a generator expression
// whose iterable is read lazily, it reads the class namespace only when
// iteration begins, so names added to the class in between are included. It
// is named "genexpr" with the qualified name "MetaProps.keys.<locals>.genexpr".
#pragma once

#include "common/ref.h"

namespace orvane {
namespace http {

// Makes the generator function and keeps it for the process. Call once at
// module initialisation.
bool init_keys_iter(PyObject* module);

// A new generator over the public names of `cls`.
PyObject* new_keys_iter(PyObject* cls);

}  // namespace http
}  // namespace orvane
