#include "seal_secret.h"

#include <cstring>

#include "seal_text.h"

namespace orvane::seal {

namespace {

// Zeroes the buffer of a bytes object that only the caller holds (shared
// ones, such as the interpreter's one-byte singletons, are left alone).
void wipe_if_private(PyObject* bytes) {
    if (bytes && PyBytes_CheckExact(bytes) && Py_REFCNT(bytes) == 1 && PyBytes_GET_SIZE(bytes) > 1)
        OPENSSL_cleanse(PyBytes_AS_STRING(bytes), static_cast<size_t>(PyBytes_GET_SIZE(bytes)));
}

struct WipedOnRelease {
    Ref bytes;
    ~WipedOnRelease() { wipe_if_private(bytes.get()); }
};

// Replaces a pending UnicodeEncodeError, which carries the whole password in
// `object` (and so in `args` and its repr), by one that names only the
// codec; the original and its traceback are dropped.
void scrub_encode_error(PyObject* encoding) {
    PyErr_Clear();
    Ref codec = Ref::steal(PyObject_Str(encoding));
    if (!codec) return;
    const char* name = PyUnicode_AsUTF8(codec.get());
    if (!name) return;
    Ref reason = Ref::steal(PyUnicode_FromFormat("the password holds a character that %s cannot encode", name));
    if (!reason) return;
    Ref error = Ref::steal(PyObject_CallFunction(PyExc_UnicodeEncodeError, "OsnnO", codec.get(), "",
                                                 static_cast<Py_ssize_t>(0), static_cast<Py_ssize_t>(0),
                                                 reason.get()));
    if (!error) return;
    PyErr_SetObject(PyExc_UnicodeEncodeError, error.get());
}

}  // namespace

bool SecretText::take(PyObject* password, PyObject* encoding) {
    wipe();
    WipedOnRelease encoded{Ref::steal(encode_str(password, encoding))};
    if (!encoded.bytes) {
        if (PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) scrub_encode_error(encoding);
        return false;
    }
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(encoded.bytes.get(), &data, &size) < 0) return false;
    if (!reject_embedded_nul(encoded.bytes.get())) return false;
    text_.assign(data, static_cast<size_t>(size));
    return true;
}

}  // namespace orvane::seal
