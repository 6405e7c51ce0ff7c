// Texts the module builds around a signature: the URL-quoted form, the
// length-prefixed payload, the properties file filled from its template.
#pragma once

#include "common/ref.h"
#include "common/text.h"
#include "seal_state.h"

namespace orvane::seal {

// text.encode(encoding): str's own encoder for a plain str, the object's
// `encode` method otherwise. New reference, or null with an exception set.
PyObject* encode_str(PyObject* text, PyObject* encoding);

// The module's `quote` (looked up at call time) applied to `signature` with
// safe="". When `quote` is still urllib.parse.quote and the signature is a
// bytes object, the quoting is done here with the same result.
PyObject* quote_signature(PyObject* signature);

// "0000{:04d}{}0000{:04d}{}{}".format(len(quoted), quoted, id_len, user_id,
// user_id).encode("utf8"); id_len < 0 means len(user_id).
PyObject* payload(PyObject* quoted, PyObject* user_id, Py_ssize_t id_len);

// The properties file's bytes:
//   template.format(seal_path_folder=str(seal_path.parent), seal_name=seal_path.name,
//                   p7b_path=str(folder.joinpath("P7B"))).encode(encoding)
// Each path is refused with ValueError when its line would not be read back
// by the engine as written (a line break or zero byte in it, blanks at
// either end, longer than the engine's line buffer): a folder name can
// neither inject lines nor be cut short.
PyObject* properties_content(PyObject* tmpl, PyObject* seal_path, PyObject* folder, PyObject* encoding);

// Raises ValueError when `data` (bytes) holds a zero byte: the engine takes
// zero-terminated text and would sign only what comes before it.
bool reject_embedded_nul(PyObject* data);

// "{}".format(obj): a new reference to a plain str (never a subclass, so no
// method of the caller's class runs on the result).
inline PyObject* format_str(PyObject* obj) {
    Ref text = Ref::steal(format_field(obj, state.names.empty));
    if (!text || PyUnicode_CheckExact(text.get())) return text.release();
    return PyUnicode_FromObject(text.get());  // a plain copy of a str subclass
}

}  // namespace orvane::seal
