// Ordinary Python classes with methods written in C++.
//
// The modules' record and constant classes are plain classes, made at module
// initialisation by calling the metaclass (normally `type`) with a name, bases
// and a namespace, exactly as a `class` statement does. `__slots__` can be a
// real list in the namespace, so slot descriptors, the instance dictionary and
// `keys()` behave as for a class written in Python.
//
// C++ functions are bound to the class as native descriptors:
//   Instance -> method descriptor (fast method calls; `self` is the instance);
//               an `__init__` is one held by an InitMethod (init_method.h)
//   Class    -> class-method descriptor (`self` is the class the call went through)
//   Static   -> staticmethod wrapping a builtin whose `self` is the module
//   Function -> a builtin whose `self` is the module, wrapped in
//               `instancemethod`, so it binds like a `def` in a class body:
//               through an instance it gets the instance as first argument,
//               through the class it is the plain function (so the first
//               parameter can be passed by keyword, e.g. Meta.f(cls=C)).
// Each function is METH_FASTCALL | METH_KEYWORDS and parses with orvane::Params.
#pragma once

#include "common/init_method.h"
#include "common/ref.h"

#include <cstring>
#include <initializer_list>

namespace orvane {

enum class Kind { Instance, Class, Static, Function };

struct Method {
    PyMethodDef def;  // must live as long as the class (give it static storage)
    Kind kind;
};

inline constexpr int kFastKw = METH_FASTCALL | METH_KEYWORDS;

// Wraps a function pointer of any calling convention for PyMethodDef.
template <class F>
inline PyCFunction fast(F f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(f));
}

// Makes the descriptor for one method of `cls` (a new reference).
inline PyObject* make_descriptor(PyObject* cls, PyObject* module, PyMethodDef* def, Kind kind) {
    switch (kind) {
    case Kind::Instance: {
        PyObject* d = PyDescr_NewMethod(reinterpret_cast<PyTypeObject*>(cls), def);
        // An __init__ keeps its signature readable (see init_method.h).
        if (!d || std::strcmp(def->ml_name, "__init__") != 0) return d;
        return new_init_method(d);
    }
    case Kind::Class:
        return PyDescr_NewClassMethod(reinterpret_cast<PyTypeObject*>(cls), def);
    case Kind::Static: {
        Ref modname = Ref::steal(PyObject_GetAttrString(module, "__name__"));
        if (!modname) return nullptr;
        Ref fn = Ref::steal(PyCFunction_NewEx(def, module, modname.get()));
        if (!fn) return nullptr;
        return PyStaticMethod_New(fn.get());
    }
    case Kind::Function: {
        Ref modname = Ref::steal(PyObject_GetAttrString(module, "__name__"));
        if (!modname) return nullptr;
        Ref fn = Ref::steal(PyCFunction_NewEx(def, module, modname.get()));
        if (!fn) return nullptr;
        return PyInstanceMethod_New(fn.get());
    }
    }
    return nullptr;
}

// Creates `metaclass(name, bases, namespace)` with `__module__` and
// `__qualname__` filled in from `module` (so the class does not take its module
// from whatever globals happen to be current), then sets each method of the
// array (terminated by an entry whose def.ml_name is null) on the class.
// `ns` is consumed as the namespace and may be modified. Returns a new
// reference, or null with an exception set.
inline PyObject* make_class(PyObject* module, const char* name, PyObject* bases, PyObject* ns,
                            Method* methods, PyObject* metaclass = nullptr) {
    if (!metaclass) metaclass = reinterpret_cast<PyObject*>(&PyType_Type);
    Ref modname = Ref::steal(PyObject_GetAttrString(module, "__name__"));
    Ref qualname = Ref::steal(PyUnicode_FromString(name));
    if (!modname || !qualname) return nullptr;
    if (PyDict_GetItemString(ns, "__module__") == nullptr &&
        PyDict_SetItemString(ns, "__module__", modname.get()) < 0)
        return nullptr;
    if (PyDict_GetItemString(ns, "__qualname__") == nullptr &&
        PyDict_SetItemString(ns, "__qualname__", qualname.get()) < 0)
        return nullptr;
    Ref cls = Ref::steal(PyObject_CallFunction(metaclass, "OOO", qualname.get(), bases, ns));
    if (!cls) return nullptr;
    if (!PyType_Check(cls.get())) {
        PyErr_Format(PyExc_TypeError, "metaclass of %s did not make a class", name);
        return nullptr;
    }
    for (Method* m = methods; m && m->def.ml_name; ++m) {
        Ref d = Ref::steal(make_descriptor(cls.get(), module, &m->def, m->kind));
        if (!d || PyObject_SetAttrString(cls.get(), m->def.ml_name, d.get()) < 0) return nullptr;
    }
    return cls.release();
}

// A tuple of bases; `make_bases()` is (object,).
inline PyObject* make_bases(PyObject* base = nullptr) {
    if (!base) base = reinterpret_cast<PyObject*>(&PyBaseObject_Type);
    return PyTuple_Pack(1, base);
}

// Binds `value` (a new reference, consumed) as `name` in the module, the way
// a module-level assignment does. Returns false with an exception set.
inline bool bind(PyObject* module, const char* name, PyObject* value) {
    Ref v = Ref::steal(value);
    if (!v) return false;
    return PyObject_SetAttrString(module, name, v.get()) == 0;
}

// `from <module> import <name>, ...` binding each name in the module, in order.
// `level` is 0 for an absolute import, 1 for `from .x import ...` (which needs
// the importing module's `__package__`, set by set_package()).
inline bool import_from(PyObject* module, const char* from, std::initializer_list<const char*> names,
                        int level = 0) {
    Ref fromlist = Ref::steal(PyList_New(0));
    if (!fromlist) return false;
    for (const char* n : names) {
        Ref s = Ref::steal(PyUnicode_FromString(n));
        if (!s || PyList_Append(fromlist.get(), s.get()) < 0) return false;
    }
    Ref name = Ref::steal(PyUnicode_FromString(from));
    if (!name) return false;
    Ref mod = Ref::steal(PyImport_ImportModuleLevelObject(name.get(), PyModule_GetDict(module),
                                                          nullptr, fromlist.get(), level));
    if (!mod) return false;
    for (const char* n : names) {
        Ref v = Ref::steal(PyObject_GetAttrString(mod.get(), n));
        if (!v) {
            if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
                PyErr_Clear();
                PyErr_Format(PyExc_ImportError, "cannot import name '%s' from '%s'", n, from);
            }
            return false;
        }
        if (PyObject_SetAttrString(module, n, v.get()) < 0) return false;
    }
    return true;
}

// `import <module> as <alias>`.
inline bool import_as(PyObject* module, const char* name, const char* alias) {
    return bind(module, alias, PyImport_ImportModule(name));
}

// Sets `__package__` from the module's dotted name so that relative imports
// made during initialisation resolve (the import system fills it in only
// after initialisation returns).
inline bool set_package(PyObject* module) {
    const char* full = PyModule_GetName(module);
    if (!full) return false;
    const char* dot = std::strrchr(full, '.');
    Ref pkg = Ref::steal(dot ? PyUnicode_FromStringAndSize(full, dot - full)
                             : PyUnicode_FromString(""));
    if (!pkg) return false;
    return PyObject_SetAttrString(module, "__package__", pkg.get()) == 0;
}

// Looks `name` (an interned str) up in a module's namespace at call time,
// raising NameError as Python would when it is not there. Borrowed reference.
inline PyObject* global(PyObject* module_dict, PyObject* name) {
    PyObject* v = PyDict_GetItemWithError(module_dict, name);
    if (!v) {
        if (!PyErr_Occurred()) {
            PyObject* builtins = PyEval_GetBuiltins();
            v = builtins ? PyDict_GetItemWithError(builtins, name) : nullptr;
            if (!v && !PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
        }
    }
    return v;
}

}  // namespace orvane
