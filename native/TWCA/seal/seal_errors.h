// The error table read from "cError.h" and the SealError raised from it.
#pragma once

#include "common/ref.h"

namespace orvane::seal {

// read_error_code_dict(folder_path): the table {code: {"error_msg": ..., "error": ...}}
// of folder_path.joinpath("cError.h"). New reference, or null with an exception.
PyObject* read_error_code_dict(PyObject* folder_path);

// Raises SealError("<name> <code> <message>") from `table` (anything with a
// `get` method). Always returns null; an exception is set.
PyObject* raise_error(PyObject* return_code, PyObject* table);

// The error table of the module folder (see module_folder), read by the
// module's `read_error_code_dict`, looked up now: where init_seal, the
// session constructor and a failed signing of the module functions get it.
// New reference, or null with an exception set.
PyObject* module_error_table(PyObject* folder);

// Where an engine code other than 0 becomes SealError: the `raise_error`
// method of a session, or the module's `raise_error` function (looked up at
// call time) with an error table; without a table, the module folder's is
// read when a code is to be raised.
class ErrorReport {
public:
    static ErrorReport of_session(PyObject* self) { return ErrorReport(self, nullptr); }
    static ErrorReport of_module(PyObject* table) { return ErrorReport(nullptr, table); }

    // Calls raise_error with `code`. False with its exception set; true when
    // it returned instead of raising (a replacement that does so).
    bool raise(int code) const;

private:
    ErrorReport(PyObject* self, PyObject* table) : self_(self), table_(table) {}
    PyObject* self_;   // borrowed: the caller holds the session
    PyObject* table_;  // borrowed: the caller holds the table
};

}  // namespace orvane::seal
