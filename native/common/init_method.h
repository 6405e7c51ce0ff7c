// The descriptor a class's `__init__` written in C++ is bound to its class as.
//
// A plain method descriptor does for every use but one: from CPython 3.13 on,
// inspect.signature(cls) binds the class's own `__init__` to the class itself
// (`__get__(cls, type(cls))`) to read the constructor's signature, which a
// method descriptor refuses with TypeError. This object holds the method
// descriptor and stands in for it everywhere else:
//   - read through an instance: the bound method the descriptor gives;
//   - read through the class (`Cls.__init__`): the method descriptor itself,
//     which is what inspect of 3.8 to 3.12 reads the signature from;
//   - bound to the class or a subclass: a method object over the method
//     descriptor, whose signature is the constructor's without `self`
//     (calling it raises the descriptor's own TypeError: a class is not an
//     instance);
//   - called, as the interpreter does when making an instance or for
//     `Base.__init__(self, ...)`: the method descriptor's own call, with no
//     bound object made in between (it is flagged as a method descriptor).
#pragma once

#include "common/ref.h"

#include <cstddef>

namespace orvane {

struct InitMethod {
    PyObject_HEAD
    PyObject* method;  // the method descriptor (a strong reference)
    vectorcallfunc vectorcall;
};

namespace init_method_detail {

inline PyObject* held(PyObject* self) {
    PyObject* m = reinterpret_cast<InitMethod*>(self)->method;
    if (!m) PyErr_SetString(PyExc_SystemError, "__init__ descriptor was cleared");
    return m;
}

inline PyObject* call(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    PyObject* m = held(self);
    return m ? vectorcall(m, args, nargsf, kwnames) : nullptr;
}

inline PyObject* get(PyObject* self, PyObject* obj, PyObject* type) {
    PyObject* m = held(self);
    if (!m) return nullptr;
    if (!obj) return new_ref(m);
    PyTypeObject* owner = PyDescr_TYPE(m);
    if (PyType_Check(obj) && !PyObject_TypeCheck(obj, owner) &&
        PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(obj), owner))
        return PyMethod_New(m, obj);
    return Py_TYPE(m)->tp_descr_get(m, obj, type);
}

// __doc__, __name__, __qualname__, __objclass__ and __text_signature__ are
// the method descriptor's.
inline PyObject* forward(PyObject* self, void* name) {
    PyObject* m = held(self);
    return m ? PyObject_GetAttrString(m, static_cast<const char*>(name)) : nullptr;
}

inline PyObject* repr(PyObject* self) {
    PyObject* m = held(self);
    return m ? PyObject_Repr(m) : nullptr;
}

inline int traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(reinterpret_cast<InitMethod*>(self)->method);
    return 0;
}

inline int clear(PyObject* self) {
    Py_CLEAR(reinterpret_cast<InitMethod*>(self)->method);
    return 0;
}

inline void dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    clear(self);
    PyObject_GC_Del(self);
}

inline PyTypeObject* type() {
    static PyGetSetDef getset[] = {
        {"__doc__", forward, nullptr, nullptr, const_cast<char*>("__doc__")},
        {"__name__", forward, nullptr, nullptr, const_cast<char*>("__name__")},
        {"__qualname__", forward, nullptr, nullptr, const_cast<char*>("__qualname__")},
        {"__objclass__", forward, nullptr, nullptr, const_cast<char*>("__objclass__")},
        {"__text_signature__", forward, nullptr, nullptr, const_cast<char*>("__text_signature__")},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    static PyTypeObject tp = {PyVarObject_HEAD_INIT(nullptr, 0)};
    if (PyType_HasFeature(&tp, Py_TPFLAGS_READY)) return &tp;
    tp.tp_name = "orvane.init_method";
    tp.tp_basicsize = sizeof(InitMethod);
    tp.tp_dealloc = dealloc;
    tp.tp_vectorcall_offset = offsetof(InitMethod, vectorcall);
    tp.tp_repr = repr;
    tp.tp_call = PyVectorcall_Call;
    tp.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_METHOD_DESCRIPTOR |
#if PY_VERSION_HEX >= 0x03090000
                  Py_TPFLAGS_HAVE_VECTORCALL;
#else
                  _Py_TPFLAGS_HAVE_VECTORCALL;
#endif
    tp.tp_traverse = traverse;
    tp.tp_clear = clear;
    tp.tp_getset = getset;
    tp.tp_descr_get = get;
    if (PyType_Ready(&tp) < 0) return nullptr;
    return &tp;
}

}  // namespace init_method_detail

// Wraps the method descriptor `method` (a new reference, consumed) of an
// `__init__`. Returns a new reference, or null with an exception set.
inline PyObject* new_init_method(PyObject* method) {
    Ref m = Ref::steal(method);
    if (!m) return nullptr;
    PyTypeObject* tp = init_method_detail::type();
    if (!tp) return nullptr;
    InitMethod* self = PyObject_GC_New(InitMethod, tp);
    if (!self) return nullptr;
    self->method = m.release();
    self->vectorcall = init_method_detail::call;
    PyObject_GC_Track(self);
    return reinterpret_cast<PyObject*>(self);
}

}  // namespace orvane
