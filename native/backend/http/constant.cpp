// orvane.backend.http.constant: the building blocks of the package's constant
// records.
//
//   Constant   a class whose constructor links the attributes it shares with
//              an `ops` object: each value becomes an attribute naming the other
//   MetaProps  a metaclass that makes its classes read like mappings of their
//              public class attributes (keys(), cls[name], a text form)
//   BaseProps  the empty class built with MetaProps that constant classes derive from
//
// MetaProps's methods are bound like functions written in the class body
// (classes.h Kind::Function), so MetaProps.__getitem__(cls=C, key="A") works
// as it does for a Python method. keys() returns a generator that reads the
// class namespace when iteration begins; see keys_iter.h.
#include "backend/http/keys_iter.h"
#include "backend/http/mapping.h"
#include "backend/http/str_methods.h"
#include "common/args.h"
#include "common/classes.h"
#include "common/names.h"
#include "common/text.h"

namespace orvane {
namespace http {
namespace {

#define CONSTANT_NAMES(X)                                                               \
    X(dict_, "__dict__") X(name_, "__name__") X(underscore, "_") X(dunder, "__")          \
    X(startswith, "startswith") X(items, "items") X(empty, "") X(lparen, "(") X(rparen, ")") \
    X(comma, ", ")

ORVANE_INTERNED(Names, CONSTANT_NAMES);
Names names;

PyObject* builtin_vars;  // builtins.vars, taken at import and kept for the process

bool init_names() {
    if (!names.init()) return false;
    Ref builtins = Ref::steal(PyImport_ImportModule("builtins"));
    if (!builtins) return false;
    builtin_vars = PyObject_GetAttrString(builtins.get(), "vars");
    return builtin_vars != nullptr;
}

// ---- Constant ---------------------------------------------------------------

// getattr(obj, name, None): only AttributeError is swallowed.
PyObject* getattr_or_none(PyObject* obj, PyObject* name) {
    PyObject* v = PyObject_GetAttr(obj, name);
    if (!v && PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Clear();
        return new_ref(Py_None);
    }
    return v;
}

Params constant_init_params("__init__", {"ops"}, 1, 1);

PyObject* constant_init(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Args<1> a;
        if (!constant_init_params.parse(args, nargs, kwnames, a)) return nullptr;
        PyObject* ops = a[0];
        const Names& n = names;
        Ref attrs = Ref::steal(call1(builtin_vars, ops));
        if (!attrs) return nullptr;
        // share_attrs: every entry of vars(ops) whose key does not start with "__"
        Ref share = Ref::steal(PyDict_New());
        if (!share) return nullptr;
        if (!for_each_item(attrs.get(), n.items, [&](PyObject* k, PyObject* v) {
                const int dunder = starts_with_underscores(k, 2, n.dunder, n.startswith);
                if (dunder < 0) return false;
                return dunder || PyDict_SetItem(share.get(), k, v) == 0;
            }))
            return nullptr;
        // Attribute access runs Python code, which can reach `share` (the
        // garbage collector lists it) and empty it: each key and value is held
        // while its entry is worked on.
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(share.get(), &pos, &key, &value)) {
            Ref kref = Ref::borrow(key), vref = Ref::borrow(value);
            PyObject *k = kref.get(), *v = vref.get();
            Ref probe = Ref::steal(getattr_or_none(self, k));
            if (!probe) return nullptr;
            if (probe.get() == Py_None) continue;
            Ref w = Ref::steal(PyObject_GetAttr(self, k));
            if (!w || PyObject_SetAttr(self, v, w.get()) < 0) return nullptr;
            Ref w2 = Ref::steal(PyObject_GetAttr(self, k));
            if (!w2 || PyObject_SetAttr(self, w2.get(), v) < 0) return nullptr;
        }
        Py_RETURN_NONE;
    });
}

// ---- MetaProps ------------------------------------------------------------

// The public names of cls (keys of cls.__dict__ not starting with "_").
PyObject* public_names(PyObject* cls) {
    Ref ns = Ref::steal(PyObject_GetAttr(cls, names.dict_));
    if (!ns) return nullptr;
    Ref out = Ref::steal(PyList_New(0));
    if (!out) return nullptr;
    const bool ok = for_each(ns.get(), [&](PyObject* key) {
        const int priv = starts_with_underscores(key, 1, names.underscore, names.startswith);
        if (priv < 0) return false;
        return priv || PyList_Append(out.get(), key) == 0;
    });
    return ok ? out.release() : nullptr;
}

Params repr_params("__repr__", {"cls"}, 1);

PyObject* meta_repr(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Args<1> a;
        if (!repr_params.parse(args, nargs, kwnames, a)) return nullptr;
        PyObject* cls = a[0];
        const Names& n = names;
        Ref keys = Ref::steal(public_names(cls));
        if (!keys) return nullptr;
        Ref name = Ref::steal(PyObject_GetAttr(cls, n.name_));
        if (!name) return nullptr;
        const int priv = starts_with_underscores(name.get(), 1, n.underscore, n.startswith);
        if (priv < 0) return nullptr;
        Ref shown = Ref::steal(format_field(priv ? n.empty : name.get(), n.empty));
        if (!shown) return nullptr;
        Ref joined = Ref::steal(PyUnicode_Join(n.comma, keys.get()));
        if (!joined) return nullptr;
        return concat({shown.get(), n.lparen, joined.get(), n.rparen});
    });
}

Params keys_params("keys", {"cls"}, 1);

PyObject* meta_keys(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Args<1> a;
        if (!keys_params.parse(args, nargs, kwnames, a)) return nullptr;
        return new_keys_iter(a[0]);
    });
}

Params getitem_params("__getitem__", {"cls", "key"}, 2);

PyObject* meta_getitem(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Args<2> a;
        if (!getitem_params.parse(args, nargs, kwnames, a)) return nullptr;
        return PyObject_GetAttr(a[0], a[1]);
    });
}

Method constant_methods[] = {
    {{"__init__", fast(constant_init), kFastKw, "__init__($self, ops)\n--\n\n"}, Kind::Instance},
    {{nullptr, nullptr, 0, nullptr}, Kind::Instance},
};

Method meta_methods[] = {
    {{"__repr__", fast(meta_repr), kFastKw, "__repr__($module, cls)\n--\n\n"}, Kind::Function},
    {{"keys", fast(meta_keys), kFastKw, "keys($module, cls)\n--\n\n"}, Kind::Function},
    {{"__getitem__", fast(meta_getitem), kFastKw, "__getitem__($module, cls, key)\n--\n\n"}, Kind::Function},
    {{nullptr, nullptr, 0, nullptr}, Kind::Instance},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "orvane.backend.http.constant", nullptr, -1, nullptr,
    nullptr,               nullptr,                        nullptr, nullptr,
};

PyObject* init_module() {
    if (!init_names()) return nullptr;
    Ref module = Ref::steal(PyModule_Create(&module_def));
    if (!module || !init_keys_iter(module.get())) return nullptr;

    Ref object_bases = Ref::steal(make_bases());
    Ref ns = Ref::steal(PyDict_New());
    if (!object_bases || !ns) return nullptr;
    if (!bind(module.get(), "Constant",
              make_class(module.get(), "Constant", object_bases.get(), ns.get(), constant_methods)))
        return nullptr;

    Ref type_bases = Ref::steal(make_bases(reinterpret_cast<PyObject*>(&PyType_Type)));
    ns = Ref::steal(PyDict_New());
    if (!type_bases || !ns) return nullptr;
    Ref meta = Ref::steal(make_class(module.get(), "MetaProps", type_bases.get(), ns.get(), meta_methods));
    if (!meta || !bind(module.get(), "MetaProps", new_ref(meta.get()))) return nullptr;

    ns = Ref::steal(PyDict_New());
    if (!ns) return nullptr;
    if (!bind(module.get(), "BaseProps",
              make_class(module.get(), "BaseProps", object_bases.get(), ns.get(), nullptr, meta.get())))
        return nullptr;
    return module.release();
}

}  // namespace
}  // namespace http
}  // namespace orvane

ORVANE_MODINIT PyInit_constant(void) {
    return orvane::guarded([] { return orvane::http::init_module(); });
}
