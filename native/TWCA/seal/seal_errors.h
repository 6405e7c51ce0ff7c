// The error table read from "cError.h" and the SealError raised from it.
#pragma once

#include "common/ref.h"

namespace seal {

// read_error_code_dict(folder_path): the table {code: {"error_msg": ..., "error": ...}}
// of folder_path.joinpath("cError.h"). New reference, or null with an exception.
PyObject* read_error_code_dict(PyObject* folder_path);

// Raises SealError("<name> <code> <message>") from `table` (anything with a
// `get` method). Always returns null; an exception is set.
PyObject* raise_error(PyObject* return_code, PyObject* table);

// Calls the module-level `raise_error` (looked up at call time) with the
// code and the table. Returns its result (null when it raised).
PyObject* call_module_raise_error(int code, PyObject* table);

}  // namespace seal
