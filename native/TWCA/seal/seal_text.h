// Texts the module builds around a signature: the URL-quoted form, the
// length-prefixed payload, the properties file filled from its template.
#pragma once

#include "common/ref.h"

namespace seal {

// "{}".format(obj): a new str reference.
inline PyObject* format_str(PyObject* obj);

// The module's `quote` (looked up at call time) applied to `signature` with
// safe="". When `quote` is still urllib.parse.quote and the signature is a
// bytes object, the quoting is done here with the same result.
PyObject* quote_signature(PyObject* signature);

// "0000{:04d}{}0000{:04d}{}{}".format(len(quoted), quoted, id_len, user_id,
// user_id).encode("utf8"); id_len < 0 means len(user_id).
PyObject* payload(PyObject* quoted, PyObject* user_id, Py_ssize_t id_len);

// template.format(seal_path_folder=str(seal_path.parent), seal_name=seal_path.name,
//                 p7b_path=str(folder.joinpath("P7B")))
PyObject* fill_template(PyObject* tmpl, PyObject* seal_path, PyObject* folder);

// path.unlink(), where a file already gone is not an error. An exception
// pending on entry is kept and stays pending.
bool unlink_quietly(PyObject* path);

// Raises ValueError when `data` (bytes) holds a zero byte: the engine takes
// zero-terminated text and would sign only what comes before it.
bool reject_embedded_nul(PyObject* data);

PyObject* empty_text();  // ""

inline PyObject* format_str(PyObject* obj) {
    if (PyUnicode_CheckExact(obj)) {
        Py_INCREF(obj);
        return obj;
    }
    return PyObject_Format(obj, empty_text());
}

}  // namespace seal
