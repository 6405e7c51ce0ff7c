#include "backend/http/keys_iter.h"

namespace orvane {
namespace http {
namespace {

// Kept for the life of the process (the module is initialised once).
PyObject* genexpr_fn;

const char kSource[] =
    "def genexpr(cls):\n"
    "    for k in cls.__dict__:\n"
    "        if not k.startswith('_'):\n"
    "            yield k\n";

}  // namespace

bool init_keys_iter(PyObject* module) {
    Ref modname = Ref::steal(PyObject_GetAttrString(module, "__name__"));
    if (!modname) return false;
    Ref filename = Ref::steal(PyUnicode_FromFormat("<%U>", modname.get()));
    if (!filename) return false;
    Ref code = Ref::steal(Py_CompileStringObject(kSource, filename.get(), Py_file_input, nullptr, 0));
    if (!code) return false;
    // Its own globals: the function sees nothing of the module's namespace.
    Ref globals = Ref::steal(PyDict_New());
    Ref locals = Ref::steal(PyDict_New());
    if (!globals || !locals) return false;
    PyObject* builtins = PyEval_GetBuiltins();
    if (!builtins || PyDict_SetItemString(globals.get(), "__builtins__", builtins) < 0 ||
        PyDict_SetItemString(globals.get(), "__name__", modname.get()) < 0)
        return false;
    Ref done = Ref::steal(PyEval_EvalCode(code.get(), globals.get(), locals.get()));
    if (!done) return false;
    PyObject* fn = PyDict_GetItemString(locals.get(), "genexpr");
    if (!fn) {
        PyErr_SetString(PyExc_SystemError, "keys generator not defined");
        return false;
    }
    // Generators take their names from the function that makes them.
    Ref qualname = Ref::steal(PyUnicode_FromString("MetaProps.keys.<locals>.genexpr"));
    if (!qualname || PyObject_SetAttrString(fn, "__qualname__", qualname.get()) < 0) return false;
    genexpr_fn = new_ref(fn);
    return true;
}

PyObject* new_keys_iter(PyObject* cls) { return call1(genexpr_fn, cls); }

}  // namespace http
}  // namespace orvane
