#include "seal_errors.h"

#include "common/text.h"
#include "seal_state.h"

namespace orvane::seal {

PyObject* read_error_code_dict(PyObject* folder_path) {
    PyObject* name = state.names.cError_h;
    Ref file = Ref::steal(call_method(folder_path, state.names.joinpath, &name, 1));
    if (!file) return nullptr;
    Ref data = Ref::steal(call_method(file.get(), state.names.read_bytes, nullptr, 0));
    if (!data) return nullptr;
    PyObject* codec = state.names.utf8;
    Ref text = Ref::steal(call_method(data.get(), state.names.decode, &codec, 1));
    if (!text) return nullptr;
    // The header is read with CR LF line ends; a file with LF-only ends is a
    // single piece.
    Ref pieces = Ref::steal(PyUnicode_Split(text.get(), state.names.crlf, -1));
    if (!pieces) return nullptr;
    Ref table = Ref::steal(PyDict_New());
    if (!table) return nullptr;
    const Py_ssize_t count = PyList_GET_SIZE(pieces.get());
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject* piece = PyList_GET_ITEM(pieces.get(), i);
        const Py_ssize_t starts = PyUnicode_Tailmatch(piece, state.names.define, 0, PY_SSIZE_T_MAX, -1);
        if (starts < 0) return nullptr;
        if (!starts) continue;
        // "#define NAME CODE // message": fields split on single blanks.
        Ref fields = Ref::steal(PyUnicode_Split(piece, state.names.blank, -1));
        if (!fields) return nullptr;
        if (PyList_GET_SIZE(fields.get()) < 3) {
            PyErr_SetString(PyExc_IndexError, "list index out of range");
            return nullptr;
        }
        Ref key = Ref::steal(PyLong_FromUnicodeObject(PyList_GET_ITEM(fields.get(), 2), 10));
        if (!key) return nullptr;
        // The message is what follows the last "// ", or the whole line.
        Ref parts = Ref::steal(PyUnicode_RPartition(piece, state.names.comment));
        if (!parts) return nullptr;
        Ref entry = Ref::steal(PyDict_New());
        if (!entry ||
            PyDict_SetItem(entry.get(), state.names.error_msg, PyTuple_GET_ITEM(parts.get(), 2)) < 0 ||
            PyDict_SetItem(entry.get(), state.names.error, PyList_GET_ITEM(fields.get(), 1)) < 0 ||
            PyDict_SetItem(table.get(), key.get(), entry.get()) < 0)
            return nullptr;
    }
    return table.release();
}

PyObject* raise_error(PyObject* return_code, PyObject* table) {
    Ref none_found = Ref::steal(PyDict_New());
    if (!none_found) return nullptr;
    PyObject* lookup[2] = {return_code, none_found.get()};
    Ref entry = Ref::steal(call_method(table, state.names.get, lookup, 2));
    if (!entry) return nullptr;
    PyObject* name_args[2] = {state.names.error, state.names.empty};
    Ref name = Ref::steal(call_method(entry.get(), state.names.get, name_args, 2));
    if (!name) return nullptr;
    PyObject* msg_args[2] = {state.names.error_msg, state.names.empty};
    Ref text = Ref::steal(call_method(entry.get(), state.names.get, msg_args, 2));
    if (!text) return nullptr;
    // "{} {} {}".format(name, code, text)
    Ref parts[3] = {Ref::steal(format_field(name.get(), state.names.empty)),
                    Ref::steal(format_field(return_code, state.names.empty)),
                    Ref::steal(format_field(text.get(), state.names.empty))};
    if (!parts[0] || !parts[1] || !parts[2]) return nullptr;
    Ref seq = Ref::steal(PyTuple_Pack(3, parts[0].get(), parts[1].get(), parts[2].get()));
    if (!seq) return nullptr;
    Ref message = Ref::steal(PyUnicode_Join(state.names.blank, seq.get()));
    if (!message) return nullptr;
    Ref cls = global(state.names.SealError);
    if (!cls) return nullptr;
    Ref exc = Ref::steal(call1(cls.get(), message.get()));
    if (!exc) return nullptr;
    if (!PyExceptionInstance_Check(exc.get())) {
        PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
        return nullptr;
    }
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.get())), exc.get());
    return nullptr;
}

PyObject* module_error_table(PyObject* folder) {
    return call_global(state.dict, state.names.read_error_code_dict, &folder, 1);
}

bool ErrorReport::raise(int code) const {
    Ref pycode = Ref::steal(PyLong_FromLong(code));
    if (!pycode) return false;
    PyObject* code_arg = pycode.get();
    if (self_) return static_cast<bool>(Ref::steal(call_method(self_, state.names.raise_error, &code_arg, 1)));
    Ref table = Ref::borrow(table_);
    if (!table) {
        Ref path_cls = Ref::steal(pathlib_path());
        if (!path_cls) return false;
        Ref folder = Ref::steal(module_folder(path_cls.get()));
        if (!folder) return false;
        table = Ref::steal(module_error_table(folder.get()));
        if (!table) return false;
    }
    PyObject* args[2] = {code_arg, table.get()};
    return static_cast<bool>(Ref::steal(call_global(state.dict, state.names.raise_error, args, 2)));
}

}  // namespace orvane::seal
