// Tells, cheaply and exactly, whether a class is still as it was when it was
// remembered: no attribute of it or of a class in its MRO set or deleted, no
// `__bases__` assigned.
//
// Fast paths that fill an instance directly, instead of going through
// `__new__`, `__init__` and `__setattr__`, are sound only while that holds.
//
// From CPython 3.11 on, the type version tag answers it: a change sets the
// tag to 0 and the next lookup hands out a fresh one from a counter that only
// grows. Before 3.11 the tag is no proof: `sys._clear_type_cache()` restarts
// the counter, so a class changed afterwards can get the remembered tag back.
// There the class's MRO tuple (held, so its address cannot be reused) and the
// version of each MRO class's dict are compared instead: a dict's version
// changes at every modification and comes from one 64-bit counter that
// nothing restarts.
#pragma once

#include "common/ref.h"

#include <cstdint>
#include <vector>

namespace orvane {

// True for a type whose attributes Python code cannot set or delete (a
// built-in or extension type): its methods and slots stay as they are.
inline bool type_is_immutable(PyTypeObject* tp) {
#ifdef Py_TPFLAGS_IMMUTABLETYPE
    return PyType_HasFeature(tp, Py_TPFLAGS_IMMUTABLETYPE);
#else
    return !PyType_HasFeature(tp, Py_TPFLAGS_HEAPTYPE);
#endif
}

class ClassWatch {
public:
    // Remembers the present state of `tp`, a ready class. Sets no exception:
    // when a state cannot be taken, unchanged() answers false.
    void remember(PyTypeObject* tp) {
        tp_ = tp;
#if PY_VERSION_HEX >= 0x030B0000
        // A lookup of a text gives the class a tag if it has none yet.
        static PyObject* const name = PyUnicode_InternFromString("__init__");
        if (name)
            (void)_PyType_Lookup(tp, name);
        else
            PyErr_Clear();
        tag_ = tp->tp_version_tag;
#else
        mro_ = Ref::borrow(tp->tp_mro);
        versions_.clear();
        if (!mro_ || !PyTuple_Check(mro_.get())) {
            tp_ = nullptr;
            return;
        }
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(mro_.get()); ++i)
            versions_.push_back(dict_version(PyTuple_GET_ITEM(mro_.get(), i)));
#endif
    }

    // True while the class is unchanged since remember().
    bool unchanged() const {
        if (!tp_) return false;
#if PY_VERSION_HEX >= 0x030B0000
        return tag_ != 0 && tp_->tp_version_tag == tag_;
#else
        if (tp_->tp_mro != mro_.get()) return false;
        for (size_t i = 0; i < versions_.size(); ++i)
            if (dict_version(PyTuple_GET_ITEM(mro_.get(), static_cast<Py_ssize_t>(i))) !=
                versions_[i])
                return false;
        return true;
#endif
    }

private:
#if PY_VERSION_HEX < 0x030B0000
    static uint64_t dict_version(PyObject* cls) {
        PyObject* d = reinterpret_cast<PyTypeObject*>(cls)->tp_dict;
        return d ? reinterpret_cast<PyDictObject*>(d)->ma_version_tag : 0;
    }

    Ref mro_;
    std::vector<uint64_t> versions_;
#else
    unsigned int tag_ = 0;
#endif
    PyTypeObject* tp_ = nullptr;
};

}  // namespace orvane
