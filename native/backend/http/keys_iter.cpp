#include "backend/http/keys_iter.h"

#include "backend/http/text.h"

namespace orvane {
namespace constant {
namespace {

struct KeysIter {
    PyObject_HEAD
    PyObject* cls;   // the class whose names are listed; dropped once iteration has begun
    PyObject* it;    // iterator over cls.__dict__, made at the first next()
    bool finished;
};

PyTypeObject* keys_iter_type;
PyObject *s_dict, *s_underscore, *s_startswith, *s_name, *s_qualname;

int traverse(PyObject* self, visitproc visit, void* arg) {
    auto* k = reinterpret_cast<KeysIter*>(self);
    Py_VISIT(k->cls);
    Py_VISIT(k->it);
    Py_VISIT(Py_TYPE(self));
    return 0;
}

int clear(PyObject* self) {
    auto* k = reinterpret_cast<KeysIter*>(self);
    Py_CLEAR(k->cls);
    Py_CLEAR(k->it);
    return 0;
}

void dealloc(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    clear(self);
    tp->tp_free(self);
    Py_DECREF(tp);
}

void finish(KeysIter* k) {
    k->finished = true;
    Py_CLEAR(k->cls);
    Py_CLEAR(k->it);
}

PyObject* next(PyObject* self) {
    return guarded([&]() -> PyObject* {
        auto* k = reinterpret_cast<KeysIter*>(self);
        if (k->finished) return nullptr;
        if (!k->it) {
            if (!k->cls) {
                finish(k);
                return nullptr;
            }
            Ref ns = Ref::steal(PyObject_GetAttr(k->cls, s_dict));
            PyObject* it = ns ? PyObject_GetIter(ns.get()) : nullptr;
            if (!it) {
                finish(k);
                return nullptr;
            }
            k->it = it;
            Py_CLEAR(k->cls);
        }
        for (;;) {
            Ref key = Ref::steal(PyIter_Next(k->it));
            if (!key) {
                finish(k);
                return nullptr;
            }
            const int priv = http::starts_with_underscores(key.get(), 1, s_underscore, s_startswith);
            if (priv < 0) {
                finish(k);
                return nullptr;
            }
            if (!priv) return key.release();
        }
    });
}

PyObject* get_name(PyObject*, void*) { return new_ref(s_name); }
PyObject* get_qualname(PyObject*, void*) { return new_ref(s_qualname); }

PyObject* repr(PyObject* self) {
    return PyUnicode_FromFormat("<generator object %U at %p>", s_qualname, self);
}

PyGetSetDef getset[] = {
    {"__name__", get_name, nullptr, nullptr, nullptr},
    {"__qualname__", get_qualname, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(clear)},
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(next)},
    {Py_tp_repr, reinterpret_cast<void*>(repr)},
    {Py_tp_getset, getset},
    {0, nullptr},
};

PyType_Spec type_spec = {"orvane.backend.http.constant.genexpr", sizeof(KeysIter), 0,
                    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC, slots};

}  // namespace

bool init_keys_iter(PyObject*) {
    const char* texts[] = {"__dict__", "_", "startswith", "genexpr", "MetaProps.keys.<locals>.genexpr"};
    PyObject** slots_out[] = {&s_dict, &s_underscore, &s_startswith, &s_name, &s_qualname};
    for (int i = 0; i < 5; ++i) {
        *slots_out[i] = PyUnicode_InternFromString(texts[i]);
        if (!*slots_out[i]) return false;
    }
    keys_iter_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&type_spec));
    if (!keys_iter_type) return false;
    // Made only by keys(), never by calling the type.
    keys_iter_type->tp_new = nullptr;
    return true;
}

PyObject* new_keys_iter(PyObject* cls) {
    auto* k = PyObject_GC_New(KeysIter, keys_iter_type);
    if (!k) return nullptr;
    k->cls = new_ref(cls);
    k->it = nullptr;
    k->finished = false;
    PyObject_GC_Track(k);
    return reinterpret_cast<PyObject*>(k);
}

}  // namespace constant
}  // namespace orvane
