// Concrete record classes and their factories (records.h).
#include "backend/solace/records.h"

#include "backend/solace/decimals.h"
#include "common/text.h"

#include <structmember.h>

#include <utility>

namespace orvane {
namespace solace {

namespace {

// `"<name>($<self>, /, a, b, ...)\n--\n\n"`: a text signature.
template <class Names>
std::string signature(const char* name, const char* self, Py_ssize_t n, Names names) {
    std::string s = std::string(name) + "($" + self + ", /";
    for (Py_ssize_t i = 0; i < n; ++i) s += std::string(", ") + names(i);
    return s + ")\n--\n\n";
}

}  // namespace

// ---- the class --------------------------------------------------------------

void RecordClass::write_init_doc(const char* summary, const char* doc_end) {
    init_doc_ = signature("__init__", "self", size(), [this](Py_ssize_t i) { return fields_[i].slot; });
    init_doc_ += std::string(summary) + "\n\n        Attributes:\n";
    for (Py_ssize_t i = 0; i < size(); ++i)
        if (fields_[i].doc) init_doc_ += std::string(12, ' ') + fields_[i].doc + "\n";
    init_doc_ += doc_end;
}

void RecordClass::add_factory(FactoryMethod* f) {
    for (FactoryMethod*& slot : factories_) {
        if (!slot) {
            slot = f;
            return;
        }
    }
    overfull_ = true;
}

PyObject* RecordClass::create(PyObject* module, PyObject* base) {
    if (overfull_) {
        PyErr_Format(PyExc_SystemError, "%s: too many factories", name_);
        return nullptr;
    }
    size_t m = 0;
    methods_[m++] = {{"__init__", fast(init_), kFastKw, init_doc_.c_str()}, Kind::Instance};
    for (FactoryMethod* f : factories_) {
        if (!f) continue;
        if (f->fields() != fields_) {
            PyErr_Format(PyExc_SystemError, "%s.%s: made from another table", name_, f->name());
            return nullptr;
        }
        methods_[m++] = f->method();
    }
    methods_[m] = {{nullptr, nullptr, 0, nullptr}, Kind::Instance};

    Ref slots = Ref::steal(PyList_New(size()));
    if (!slots) return nullptr;
    for (Py_ssize_t i = 0; i < size(); ++i) {
        PyObject* nm = init_params_.interned(i);
        if (!nm) return nullptr;
        slot_names_[i] = nm;
        PyList_SET_ITEM(slots.get(), i, new_ref(nm));
    }
    Ref ns = Ref::steal(PyDict_New());
    Ref bases = Ref::steal(make_bases(base));
    if (!ns || !bases || PyDict_SetItemString(ns.get(), "__slots__", slots.get()) < 0)
        return nullptr;
    Ref cls = Ref::steal(make_class(module, name_, bases.get(), ns.get(), methods_));
    if (!cls) return nullptr;
    // Where each slot lives, from the member descriptors type() made.
    PyObject* tp_dict = reinterpret_cast<PyTypeObject*>(cls.get())->tp_dict;
    for (Py_ssize_t i = 0; i < size(); ++i) {
        PyObject* d = PyDict_GetItemWithError(tp_dict, slot_names_[i]);
        if (!d || Py_TYPE(d) != &PyMemberDescr_Type) {
            if (!PyErr_Occurred())
                PyErr_Format(PyExc_SystemError, "%s: no slot for %s", name_, fields_[i].slot);
            return nullptr;
        }
        PyMemberDef* md = reinterpret_cast<PyMemberDescrObject*>(d)->d_member;
        if (md->type != T_OBJECT_EX) {
            PyErr_Format(PyExc_SystemError, "%s: unexpected slot kind", name_);
            return nullptr;
        }
        offsets_[i] = md->offset;
        member_descrs_[i] = new_ref(d);  // held for the life of the process
    }
    // The class is complete. What the fast paths rely on (object.__new__,
    // this module's __init__, the plain __setattr__ and __getattribute__,
    // the slot descriptors) holds while the class stays as it is now.
    PyTypeObject* tp = reinterpret_cast<PyTypeObject*>(cls.get());
    init_descr_ = Ref::borrow(_PyType_Lookup(tp, state.names.dunder_init)).release();
    if (!init_descr_) {
        PyErr_Format(PyExc_SystemError, "%s: no __init__", name_);
        return nullptr;
    }
    tp_new_ = tp->tp_new;
    tp_init_ = tp->tp_init;
    tp_setattro_ = tp->tp_setattro;
    tp_getattro_ = tp->tp_getattro;
    // Never destroyed: they may hold objects until the process ends.
    if (!watch_) watch_ = new ClassWatch;
    if (!rejected_) rejected_ = new ClassWatch;
    watch_->remember(tp);
    type_ = new_ref(cls.get());  // held for the life of the process
    return cls.release();
}

// The class changed since it was last found fit: it still is when all the
// fast paths rely on is as create() found it. A change elsewhere, such as
// the `__slotnames__` that copy and pickle store on the class, leaves it
// fit. The answer holds until the class changes again.
bool RecordClass::revalidate() const {
    if (rejected_->unchanged()) return false;
    PyTypeObject* tp = reinterpret_cast<PyTypeObject*>(type_);
    ClassWatch now;
    now.remember(tp);
    bool fit = tp->tp_new == tp_new_ && tp->tp_init == tp_init_ &&
               tp->tp_setattro == tp_setattro_ && tp->tp_getattro == tp_getattro_ &&
               _PyType_Lookup(tp, state.names.dunder_init) == init_descr_;
    for (Py_ssize_t i = 0; fit && i < size(); ++i)
        fit = _PyType_Lookup(tp, slot_name(i)) == member_descrs_[i];
    // A lookup can run Python code (a str subclass as a key of a class
    // namespace) that changes the class again: then nothing is concluded.
    if (!now.unchanged()) return false;
    *(fit ? watch_ : rejected_) = std::move(now);
    return fit;
}

// `self.<slot i> = values[i]` for each slot in order, `self` an instance of
// exactly this class (only while unchanged()): writes the slots directly.
// Releasing a value it replaces may run a finalizer that changes the class
// or the instance's class; from then on the rest go through setattr.
// Returns false with an exception set.
bool RecordClass::store(PyObject* self, PyObject* const* values) const {
    char* base = reinterpret_cast<char*>(self);
    const Py_ssize_t n = size();
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject** slot = reinterpret_cast<PyObject**>(base + offsets_[i]);
        PyObject* old = *slot;
        *slot = new_ref(values[i]);
        if (!old) continue;
        Py_DECREF(old);
        if (Py_TYPE(self) == reinterpret_cast<PyTypeObject*>(type_) && unchanged()) continue;
        for (Py_ssize_t j = i + 1; j < n; ++j)
            if (PyObject_SetAttr(self, slot_name(j), values[j]) < 0) return false;
        return true;
    }
    return true;
}

PyObject* RecordClass::make(PyObject* cls, PyObject* const* values) const {
    if (cls == type_ && unchanged()) {
        // tp_new is object.__new__ here: it allocates the instance and sets
        // up its instance-dict storage, as type.__call__ would.
        PyTypeObject* tp = reinterpret_cast<PyTypeObject*>(cls);
        Ref self = Ref::steal(tp->tp_new(tp, state.no_args, nullptr));
        if (!self) return nullptr;
        if (unchanged()) return store(self.get(), values) ? self.release() : nullptr;
        // The allocation ran a collection, and with it a finalizer that
        // changed the class: go on as type.__call__ does after __new__.
        Ref args = Ref::steal(PyTuple_New(size()));
        if (!args) return nullptr;
        for (Py_ssize_t i = 0; i < size(); ++i) PyTuple_SET_ITEM(args.get(), i, new_ref(values[i]));
        initproc init = Py_TYPE(self.get())->tp_init;
        if (init && init(self.get(), args.get(), nullptr) < 0) return nullptr;
        return self.release();
    }
    return vectorcall(cls, values, static_cast<size_t>(size()), nullptr);
}

PyObject* RecordClass::init(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        Args<kMaxSlots> argv;
        if (!init_params_.parse(args, nargs, kwnames, argv)) return nullptr;
        for (size_t k = 0; k < ntexts_; ++k)
            if (!str_or_none(argv[texts_[k]], "__init__", fields_[texts_[k]].slot)) return nullptr;
        if (Py_TYPE(self) == reinterpret_cast<PyTypeObject*>(type_) && unchanged()) {
            if (!store(self, argv)) return nullptr;
        } else {
            for (Py_ssize_t i = 0; i < size(); ++i)
                if (PyObject_SetAttr(self, slot_name(i), argv[i]) < 0) return nullptr;
        }
        Py_RETURN_NONE;
    });
}

// ---- the factories ----------------------------------------------------------

FactoryMethod::FactoryMethod(RecordClass& record, const Field* fields, const char* name,
                             Params params, DictFunction entry)
    : record_(record), fields_(fields), name_(name), params_(std::move(params)), entry_(entry) {
    doc_ = signature(name_, "cls", params_.size(), [this](Py_ssize_t j) { return params_.name(j); });
    record_.add_factory(this);
}

}  // namespace solace
}  // namespace orvane
