#include "seal_errors.h"

#include "seal_state.h"

namespace seal {

using orvane::Ref;

PyObject* read_error_code_dict(PyObject* folder_path) {
    PyObject* name = g.n.cError_h;
    Ref file = Ref::steal(orvane::call_method(folder_path, g.n.joinpath, &name, 1));
    if (!file) return nullptr;
    Ref data = Ref::steal(orvane::call_method(file.get(), g.n.read_bytes, nullptr, 0));
    if (!data) return nullptr;
    PyObject* codec = g.n.utf8;
    Ref text = Ref::steal(orvane::call_method(data.get(), g.n.decode, &codec, 1));
    if (!text) return nullptr;
    // The header is read with CR LF line ends; a file with LF-only ends is a
    // single piece.
    Ref pieces = Ref::steal(PyUnicode_Split(text.get(), g.n.crlf, -1));
    if (!pieces) return nullptr;
    Ref table = Ref::steal(PyDict_New());
    if (!table) return nullptr;
    const Py_ssize_t count = PyList_GET_SIZE(pieces.get());
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject* piece = PyList_GET_ITEM(pieces.get(), i);
        const Py_ssize_t starts = PyUnicode_Tailmatch(piece, g.n.define, 0, PY_SSIZE_T_MAX, -1);
        if (starts < 0) return nullptr;
        if (!starts) continue;
        // "#define NAME CODE // message": fields split on single blanks.
        Ref fields = Ref::steal(PyUnicode_Split(piece, g.n.blank, -1));
        if (!fields) return nullptr;
        if (PyList_GET_SIZE(fields.get()) < 3) {
            PyErr_SetString(PyExc_IndexError, "list index out of range");
            return nullptr;
        }
        Ref key = Ref::steal(PyLong_FromUnicodeObject(PyList_GET_ITEM(fields.get(), 2), 10));
        if (!key) return nullptr;
        // The message is what follows the last "// ", or the whole line.
        Ref parts = Ref::steal(PyUnicode_RPartition(piece, g.n.comment));
        if (!parts) return nullptr;
        Ref entry = Ref::steal(PyDict_New());
        if (!entry ||
            PyDict_SetItem(entry.get(), g.n.error_msg, PyTuple_GET_ITEM(parts.get(), 2)) < 0 ||
            PyDict_SetItem(entry.get(), g.n.error, PyList_GET_ITEM(fields.get(), 1)) < 0 ||
            PyDict_SetItem(table.get(), key.get(), entry.get()) < 0)
            return nullptr;
    }
    return table.release();
}

PyObject* raise_error(PyObject* return_code, PyObject* table) {
    Ref none_found = Ref::steal(PyDict_New());
    if (!none_found) return nullptr;
    PyObject* lookup[2] = {return_code, none_found.get()};
    Ref entry = Ref::steal(orvane::call_method(table, g.n.get, lookup, 2));
    if (!entry) return nullptr;
    PyObject* name_args[2] = {g.n.error, g.n.empty};
    Ref name = Ref::steal(orvane::call_method(entry.get(), g.n.get, name_args, 2));
    if (!name) return nullptr;
    PyObject* msg_args[2] = {g.n.error_msg, g.n.empty};
    Ref text = Ref::steal(orvane::call_method(entry.get(), g.n.get, msg_args, 2));
    if (!text) return nullptr;
    // "{} {} {}".format(name, code, text)
    Ref parts[3] = {Ref::steal(PyObject_Format(name.get(), g.n.empty)),
                    Ref::steal(PyObject_Format(return_code, g.n.empty)),
                    Ref::steal(PyObject_Format(text.get(), g.n.empty))};
    if (!parts[0] || !parts[1] || !parts[2]) return nullptr;
    Ref seq = Ref::steal(PyTuple_Pack(3, parts[0].get(), parts[1].get(), parts[2].get()));
    if (!seq) return nullptr;
    Ref message = Ref::steal(PyUnicode_Join(g.n.blank, seq.get()));
    if (!message) return nullptr;
    Ref cls = global(g.n.SealError);
    if (!cls) return nullptr;
    Ref exc = Ref::steal(orvane::call1(cls.get(), message.get()));
    if (!exc) return nullptr;
    if (!PyExceptionInstance_Check(exc.get())) {
        PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
        return nullptr;
    }
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.get())), exc.get());
    return nullptr;
}

PyObject* call_module_raise_error(int code, PyObject* table) {
    Ref fn = global(g.n.raise_error);
    if (!fn) return nullptr;
    Ref pycode = Ref::steal(PyLong_FromLong(code));
    if (!pycode) return nullptr;
    PyObject* args[2] = {pycode.get(), table};
    return orvane::vectorcall(fn.get(), args, 2, nullptr);
}

}  // namespace seal
