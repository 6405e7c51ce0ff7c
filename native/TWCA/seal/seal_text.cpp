#include "seal_text.h"

#include <cstdio>
#include <cstring>

#include "cProperty.h"
#include "seal_state.h"

namespace orvane::seal {

namespace {

// Bytes that urllib.parse.quote never escapes: letters, digits and "_.-~".
struct SafeTable {
    bool safe[256] = {};
    SafeTable() {
        for (int c = 'A'; c <= 'Z'; ++c) safe[c] = true;
        for (int c = 'a'; c <= 'z'; ++c) safe[c] = true;
        for (int c = '0'; c <= '9'; ++c) safe[c] = true;
        for (const char* p = "_.-~"; *p; ++p) safe[static_cast<unsigned char>(*p)] = true;
    }
};
const SafeTable kSafe;

PyObject* quote_bytes(PyObject* data) {
    const auto* in = reinterpret_cast<const unsigned char*>(PyBytes_AS_STRING(data));
    const Py_ssize_t n = PyBytes_GET_SIZE(data);
    Py_ssize_t escaped = 0;
    for (Py_ssize_t i = 0; i < n; ++i) escaped += !kSafe.safe[in[i]];
    PyObject* out = PyUnicode_New(n + 2 * escaped, 127);
    if (!out) return nullptr;
    auto* o = static_cast<Py_UCS1*>(PyUnicode_DATA(out));
    static const char hex[] = "0123456789ABCDEF";
    for (Py_ssize_t i = 0; i < n; ++i) {
        const unsigned char c = in[i];
        if (kSafe.safe[c]) {
            *o++ = c;
        } else {
            *o++ = '%';
            *o++ = static_cast<Py_UCS1>(hex[c >> 4]);
            *o++ = static_cast<Py_UCS1>(hex[c & 15]);
        }
    }
    return out;
}

}  // namespace

PyObject* quote_signature(PyObject* signature) {
    Ref quote = global(state.names.quote);
    if (!quote) return nullptr;
    if (quote.get() == state.urllib_quote && PyBytes_CheckExact(signature)) return quote_bytes(signature);
    PyObject* args[2] = {signature, state.names.empty};
    return vectorcall(quote.get(), args, 1, state.kw_safe);
}

PyObject* payload(PyObject* quoted, PyObject* user_id, Py_ssize_t id_len) {
    const Py_ssize_t qlen = PyObject_Length(quoted);
    if (qlen < 0) return nullptr;
    if (id_len < 0) {
        id_len = PyObject_Length(user_id);
        if (id_len < 0) return nullptr;
    }
    char qdigits[32], iddigits[32];
    std::snprintf(qdigits, sizeof qdigits, "0000%04zd", qlen);
    std::snprintf(iddigits, sizeof iddigits, "0000%04zd", id_len);
    Ref q = Ref::steal(format_str(quoted));
    Ref id = Ref::steal(format_str(user_id));
    Ref qprefix = Ref::steal(PyUnicode_FromString(qdigits));
    Ref idprefix = Ref::steal(PyUnicode_FromString(iddigits));
    if (!q || !id || !qprefix || !idprefix) return nullptr;
    Ref seq = Ref::steal(PyTuple_Pack(5, qprefix.get(), q.get(), idprefix.get(), id.get(), id.get()));
    if (!seq) return nullptr;
    Ref text = Ref::steal(PyUnicode_Join(state.names.empty, seq.get()));
    if (!text) return nullptr;
    return PyUnicode_AsUTF8String(text.get());
}

PyObject* encode_str(PyObject* text, PyObject* encoding) {
    if (PyUnicode_CheckExact(text) && PyUnicode_CheckExact(encoding)) {
        const char* codec = PyUnicode_AsUTF8(encoding);
        if (!codec) return nullptr;
        return PyUnicode_AsEncodedString(text, codec, "strict");
    }
    return call_method(text, state.names.encode, &encoding, 1);
}

namespace {

// "{}".format(value) for the line "key = value" of the properties file;
// ValueError when the engine would not read that line back as written.
PyObject* checked_value(PyObject* value, const char* key, PyObject* encoding) {
    Ref text = Ref::steal(format_str(value));
    if (!text) return nullptr;
    Ref data = Ref::steal(encode_str(text.get(), encoding));
    if (!data) return nullptr;
    char* bytes = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(data.get(), &bytes, &size) < 0) return nullptr;
    if (!cProperty::fitsLine(key, bytes, static_cast<size_t>(size))) {
        PyErr_Format(PyExc_ValueError,
                     "the signing engine cannot be given this path as %s (line breaks, zero bytes, blanks at "
                     "either end, or longer than its %d-byte properties line): %.200R",
                     key, static_cast<int>(cProperty::kMaxLineContent), text.get());
        return nullptr;
    }
    return text.release();
}

}  // namespace

PyObject* properties_content(PyObject* tmpl, PyObject* seal_path, PyObject* folder, PyObject* encoding) {
    Ref parent = Ref::steal(PyObject_GetAttr(seal_path, state.names.parent));
    if (!parent) return nullptr;
    Ref parent_text = Ref::steal(PyObject_Str(parent.get()));
    if (!parent_text) return nullptr;
    Ref name = Ref::steal(PyObject_GetAttr(seal_path, state.names.name));
    if (!name) return nullptr;
    PyObject* sub = state.names.P7B;
    Ref p7b = Ref::steal(call_method(folder, state.names.joinpath, &sub, 1));
    if (!p7b) return nullptr;
    Ref p7b_text = Ref::steal(PyObject_Str(p7b.get()));
    if (!p7b_text) return nullptr;
    Ref values[3] = {Ref::steal(checked_value(parent_text.get(), "PFX.path", encoding)), Ref(), Ref()};
    if (!values[0]) return nullptr;
    values[1] = Ref::steal(checked_value(name.get(), "PFX.file", encoding));
    if (!values[1]) return nullptr;
    values[2] = Ref::steal(checked_value(p7b_text.get(), "P7B.path", encoding));
    if (!values[2]) return nullptr;
    Ref kwargs = Ref::steal(PyDict_New());
    if (!kwargs || PyDict_SetItem(kwargs.get(), state.names.seal_path_folder, values[0].get()) < 0 ||
        PyDict_SetItem(kwargs.get(), state.names.seal_name, values[1].get()) < 0 ||
        PyDict_SetItem(kwargs.get(), state.names.p7b_path, values[2].get()) < 0)
        return nullptr;
    Ref fmt = Ref::steal(PyObject_GetAttr(tmpl, state.names.format));
    if (!fmt) return nullptr;
    Ref noargs = Ref::steal(PyTuple_New(0));
    if (!noargs) return nullptr;
    Ref text = Ref::steal(PyObject_Call(fmt.get(), noargs.get(), kwargs.get()));
    if (!text) return nullptr;
    Ref content = Ref::steal(encode_str(text.get(), encoding));
    if (!content) return nullptr;
    if (!PyBytes_Check(content.get())) {
        PyErr_Format(PyExc_TypeError, "the properties text encoded to %.200s, not bytes",
                     Py_TYPE(content.get())->tp_name);
        return nullptr;
    }
    return content.release();
}

bool reject_embedded_nul(PyObject* data) {
    if (std::memchr(PyBytes_AS_STRING(data), 0, static_cast<size_t>(PyBytes_GET_SIZE(data)))) {
        PyErr_SetString(PyExc_ValueError, "embedded null byte");
        return false;
    }
    return true;
}

}  // namespace orvane::seal
