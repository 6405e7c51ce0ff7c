// The base class of the market-data records (record_base.h).
#include "backend/solace/record_base.h"

#include "backend/solace/decimals.h"
#include "backend/solace/iso_datetime.h"
#include "backend/solace/module_state.h"
#include "backend/solace/records.h"
#include "common/args.h"
#include "common/classes.h"
#include "common/list_builder.h"
#include "common/text.h"

#include <utility>
#include <vector>

namespace orvane {
namespace solace {
namespace {

// getattr(self, key, None) for a str key; TypeError for any other key.
inline PyObject* get_or_none(PyObject* self, PyObject* key) {
    if (!PyUnicode_Check(key)) {
        PyErr_Format(PyExc_TypeError, "attribute name must be string, not '%.200s'",
                     Py_TYPE(key)->tp_name);
        return nullptr;
    }
    PyObject* v = PyObject_GetAttr(self, key);
    if (!v && PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Clear();
        Py_RETURN_NONE;
    }
    return v;
}

// The module names _transform_raw reads. It looks them up at each call; to_dict
// runs it for every value of a record and carries the names from one value to
// the next only while nothing has happened that could run Python code (which
// could rebind them): every step below that may run Python code calls
// ran_python(), and the next use looks the names up afresh. A name handed out
// stays valid until the next get_*() call.
struct RawNames {
    Ref decimal;   // the module's Decimal
    Ref datetime;  // the module's dt.datetime
    bool stale = false;

    void ran_python() { stale = true; }
    void refresh() {
        if (stale) {
            decimal.reset();
            datetime.reset();
            stale = false;
        }
    }
    PyObject* get_decimal() {
        refresh();
        if (!decimal) decimal = state.global_ref(state.names.Decimal);
        return decimal.get();
    }
    PyObject* get_datetime() {
        refresh();
        if (!datetime) {
            Ref dt = state.global_ref(state.names.dt);
            if (!dt) return nullptr;
            datetime = Ref::steal(PyObject_GetAttr(dt.get(), state.names.datetime));
            // An attribute a module holds is read without running Python
            // code; any other object's may run it.
            if (!PyModule_CheckExact(dt.get())) ran_python();
        }
        return datetime.get();
    }
};

// `k in ("bid_price", "ask_price")` for k a str or None: 1, 0, or -1 with an
// exception set. A str subclass answers with its own __eq__, as in Python.
inline int is_price_list_key(PyObject* k, RawNames& names) {
    if (k == state.names.bid_price || k == state.names.ask_price) return 1;
    if (k == Py_None) return 0;
    if (PyUnicode_CheckExact(k)) {
        // Equal interned texts are the same object, and the two names are interned.
        if (PyUnicode_CHECK_INTERNED(k)) return 0;
        return PyUnicode_Compare(k, state.names.bid_price) == 0 ||
               PyUnicode_Compare(k, state.names.ask_price) == 0;
    }
    names.ran_python();
    Ref key = Ref::borrow(k);
    int r = PyObject_RichCompareBool(key.get(), state.names.bid_price, Py_EQ);
    if (r == 0) r = PyObject_RichCompareBool(key.get(), state.names.ask_price, Py_EQ);
    return r;
}

// [str(i) for i in v]
inline PyObject* str_list(PyObject* v, RawNames& names) {
    ListBuilder<> out;
    if (PyList_CheckExact(v) || PyTuple_CheckExact(v)) {
        Ref keep = Ref::borrow(v);
        const bool list = PyList_CheckExact(v);
        for (Py_ssize_t i = 0; i < Py_SIZE(v); ++i) {
            Ref item = Ref::borrow(list ? PyList_GET_ITEM(v, i) : PyTuple_GET_ITEM(v, i));
            if (!is_real_decimal(item.get())) names.ran_python();
            if (!out.add(decimal_str(item.get()))) return nullptr;  // str() of any object
        }
        return out.finish();
    }
    names.ran_python();
    Ref it = Ref::steal(PyObject_GetIter(v));
    if (!it) return nullptr;
    while (true) {
        Ref item = Ref::steal(PyIter_Next(it.get()));
        if (!item) {
            if (PyErr_Occurred()) return nullptr;
            return out.finish();
        }
        if (!out.add(PyObject_Str(item.get()))) return nullptr;
    }
}

// isinstance(v, cls). When `cls` is a class whose metaclass is `type` itself
// and `v` is a plain built-in value (int, str, list, None, ...) or an object
// whose __class__ is the ordinary one (read through the plain attribute
// lookup from object's own descriptor), the answer is the subtype test
// alone, which runs no Python code; otherwise the general protocol runs.
inline int is_instance(PyObject* v, PyObject* cls, RawNames& names) {
    PyTypeObject* tp = Py_TYPE(v);
    if (reinterpret_cast<PyObject*>(tp) == cls) return 1;
    if (PyType_CheckExact(cls) &&
        (PyLong_CheckExact(v) || PyUnicode_CheckExact(v) || PyList_CheckExact(v) ||
         v == Py_None || PyBool_Check(v) || PyFloat_CheckExact(v) || PyTuple_CheckExact(v) ||
         (tp->tp_getattro == PyObject_GenericGetAttr &&
          _PyType_Lookup(tp, state.names.class_) == state.object_class)))
        return PyType_IsSubtype(tp, reinterpret_cast<PyTypeObject*>(cls));
    names.ran_python();
    return PyObject_IsInstance(v, cls);
}

// _transform_raw(k, v) once `k` is known to be a str or None. `v` is held by
// the caller.
inline PyObject* transform_raw(PyObject* k, PyObject* v, RawNames& names) {
    int r = is_price_list_key(k, names);
    if (r < 0) return nullptr;
    if (r) return str_list(v, names);
    PyObject* decimal = names.get_decimal();
    if (!decimal) return nullptr;
    r = is_instance(v, decimal, names);
    if (r < 0) return nullptr;
    if (r) {
        if (!is_real_decimal(v)) names.ran_python();
        return decimal_str(v);
    }
    PyObject* datetime = names.get_datetime();
    if (!datetime) return nullptr;
    r = is_instance(v, datetime, names);
    if (r < 0) return nullptr;
    if (r) {
        if (is_naive_c_datetime(v)) return naive_isoformat(v);
        // isoformat() of the C datetime class runs no Python code.
        if (reinterpret_cast<PyObject*>(Py_TYPE(v)) != datetime ||
            !type_is_immutable(Py_TYPE(v)))
            names.ran_python();
        return call_method(v, state.names.isoformat, nullptr, 0);
    }
    return new_ref(v);
}

inline PyObject* base_keys(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
    static Params params("keys", {}, 0, 1);
    Args<1> none;
    if (!params.parse(args, nargs, kwnames, none)) return nullptr;
    return PyObject_GetAttr(self, state.names.slots);
}

inline PyObject* base_getitem(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    static Params params("__getitem__", {"key"}, 1, 1);
    Args<1> a;
    if (!params.parse(args, nargs, kwnames, a)) return nullptr;
    return get_or_none(self, a[0]);
}

inline PyObject* base_transform_raw(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                    PyObject* kwnames) {
    static Params params("_transform_raw", {"k", "v"}, 2);
    Args<2> a;
    if (!params.parse(args, nargs, kwnames, a)) return nullptr;
    if (!str_or_none(a[0], "_transform_raw", "k")) return nullptr;
    RawNames names;
    return transform_raw(a[0], a[1], names);
}

// dict(self) for a record whose keys() gave `keys`, built as dict() builds
// it: a list of keys() is walked as it stands (it may change meanwhile), any
// other iterable is copied into a list first; self[name] is stored under each
// name in turn. New reference.
inline PyObject* record_as_dict(PyObject* self, PyObject* keys) {
    Ref names = Ref::borrow(keys);
    if (!PyList_CheckExact(keys)) {
        names = Ref::steal(PySequence_List(keys));
        if (!names) return nullptr;
    }
    Ref d = Ref::steal(PyDict_New());
    if (!d) return nullptr;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(names.get()); ++i) {
        Ref key = Ref::borrow(PyList_GET_ITEM(names.get(), i));
        // self[name] is this module's __getitem__ unless the record's class
        // overrides it; asked for each name, as any of them may run Python
        // code that changes the class.
        const bool own =
            _PyType_Lookup(Py_TYPE(self), state.names.getitem) == state.getitem_descr;
        Ref value = Ref::steal(own ? get_or_none(self, key.get())
                                   : PyObject_GetItem(self, key.get()));
        if (!value || PyDict_SetItem(d.get(), key.get(), value.get()) < 0) return nullptr;
    }
    return d.release();
}

// The dict that to_dict returns for a record whose dict(self) holds
// key_at(i) -> value_at(i), i < n (the caller holds all of them for the
// whole call): the values themselves, or, when `raw` is true, each passed
// through self._transform_raw(key, value). New reference.
template <class KeyAt, class ValueAt>
PyObject* record_dict(PyObject* self, int raw, Py_ssize_t n, KeyAt key_at, ValueAt value_at) {
    Ref d = Ref::steal(_PyDict_NewPresized(n));
    if (!d) return nullptr;
    if (!raw) {
        for (Py_ssize_t i = 0; i < n; ++i)
            if (PyDict_SetItem(d.get(), key_at(i), value_at(i)) < 0) return nullptr;
        return d.release();
    }
    Ref transform = Ref::steal(PyObject_GetAttr(self, state.names.transform_raw));
    if (!transform) return nullptr;
    const bool own_transform = transform.get() == state.transform_fn;
    RawNames names;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* k = key_at(i);
        Ref v;
        if (own_transform) {
            if (!str_or_none(k, "_transform_raw", "k")) return nullptr;
            v = Ref::steal(transform_raw(k, value_at(i), names));
        } else {
            PyObject* targs[2] = {k, value_at(i)};
            v = Ref::steal(vectorcall(transform.get(), targs, 2, nullptr));
        }
        // Storing under a str subclass runs its __hash__ and __eq__.
        if (!PyUnicode_CheckExact(k)) names.ran_python();
        if (!v || PyDict_SetItem(d.get(), k, v.get()) < 0) return nullptr;
    }
    return d.release();
}

inline PyObject* base_to_dict(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        static Params params("to_dict", {"raw"}, 0, 1);
        Args<1> a;
        if (!params.parse(args, nargs, kwnames, a)) return nullptr;
        // dict(self): the names from self.keys(), each value from self[name].
        Ref keys = Ref::steal(call_method(self, state.names.keys, nullptr, 0));
        if (!keys) return nullptr;
        const RecordClass* rc = RecordClass::of(Py_TYPE(self));
        if (rc && rc->unchanged() && rc->is_slot_list(keys.get())) {
            // The common case: a record of one of this module's classes as
            // the module made it, whose keys() is its own slot list. Its
            // slots are read directly: that runs no Python code, and the slot
            // names are distinct, so it gives what dict(self) gives.
            const Py_ssize_t n = rc->size();
            Ref values[RecordClass::kMaxSlots];
            for (Py_ssize_t i = 0; i < n; ++i) values[i] = Ref::steal(rc->read(self, i));
            const int raw = a[0] ? PyObject_IsTrue(a[0]) : 0;
            if (raw < 0) return nullptr;
            return record_dict(
                self, raw, n, [rc](Py_ssize_t i) { return rc->slot_name(i); },
                [&values](Py_ssize_t i) { return values[i].get(); });
        }
        Ref plain = Ref::steal(record_as_dict(self, keys.get()));
        if (!plain) return nullptr;
        const int raw = a[0] ? PyObject_IsTrue(a[0]) : 0;
        if (raw < 0) return nullptr;
        if (!raw) return plain.release();
        // Nothing else holds `plain`, so it cannot change while it is read.
        std::vector<std::pair<Ref, Ref>> items;
        items.reserve(static_cast<size_t>(PyDict_GET_SIZE(plain.get())));
        Py_ssize_t pos = 0;
        PyObject *k, *v;
        while (PyDict_Next(plain.get(), &pos, &k, &v))
            items.emplace_back(Ref::borrow(k), Ref::borrow(v));
        return record_dict(
            self, raw, static_cast<Py_ssize_t>(items.size()),
            [&items](Py_ssize_t i) { return items[static_cast<size_t>(i)].first.get(); },
            [&items](Py_ssize_t i) { return items[static_cast<size_t>(i)].second.get(); });
    });
}

inline PyObject* base_repr(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        static Params params("__repr__", {}, 0, 1);
        Args<1> none;
        if (!params.parse(args, nargs, kwnames, none)) return nullptr;
        Ref slots = Ref::steal(PyObject_GetAttr(self, state.names.slots));
        if (!slots) return nullptr;
        Ref it = Ref::steal(PyObject_GetIter(slots.get()));
        if (!it) return nullptr;
        Ref parts = Ref::steal(PyList_New(0));
        if (!parts) return nullptr;
        while (true) {
            Ref s = Ref::steal(PyIter_Next(it.get()));
            if (!s) {
                if (PyErr_Occurred()) return nullptr;
                break;
            }
            int hidden;
            if (PyUnicode_CheckExact(s.get())) {
                hidden = PyUnicode_GET_LENGTH(s.get()) > 0 && PyUnicode_READ_CHAR(s.get(), 0) == '_';
            } else {
                PyObject* under = state.names.underscore;
                Ref r = Ref::steal(call_method(s.get(), state.names.startswith, &under, 1));
                if (!r) return nullptr;
                hidden = PyObject_IsTrue(r.get());
                if (hidden < 0) return nullptr;
            }
            if (hidden) continue;
            Ref name = Ref::steal(format_field(s.get(), state.names.empty));
            if (!name) return nullptr;
            Ref value = Ref::steal(PyObject_GetAttr(self, s.get()));
            if (!value) return nullptr;
            Ref text = Ref::steal(PyObject_Repr(value.get()));
            if (!text) return nullptr;
            Ref part = Ref::steal(PyUnicode_FromFormat("%U=%U", name.get(), text.get()));
            if (!part || PyList_Append(parts.get(), part.get()) < 0) return nullptr;
        }
        Ref sep = Ref::steal(PyUnicode_FromString(", "));
        if (!sep) return nullptr;
        Ref joined = Ref::steal(PyUnicode_Join(sep.get(), parts.get()));
        if (!joined) return nullptr;
        return PyUnicode_FromFormat("%s(%U)", state.repr_kind, joined.get());
    });
}

}  // namespace

PyObject* create_base(PyObject* module, const char* name) {
    static Method methods[] = {
        {{"__repr__", fast(base_repr), kFastKw, "__repr__($self, /)\n--\n\n"}, Kind::Instance},
        {{"keys", fast(base_keys), kFastKw, "keys($self, /)\n--\n\n"}, Kind::Instance},
        {{"__getitem__", fast(base_getitem), kFastKw, "__getitem__($self, key, /)\n--\n\n"},
         Kind::Instance},
        {{"_transform_raw", fast(base_transform_raw), kFastKw, "_transform_raw(k, v)\n--\n\n"},
         Kind::Static},
        {{"to_dict", fast(base_to_dict), kFastKw, "to_dict($self, /, raw=False)\n--\n\n"},
         Kind::Instance},
        {{nullptr, nullptr, 0, nullptr}, Kind::Instance},
    };
    Ref ns = Ref::steal(PyDict_New());
    Ref bases = Ref::steal(make_bases());
    if (!ns || !bases) return nullptr;
    Ref cls = Ref::steal(make_class(module, name, bases.get(), ns.get(), methods));
    if (!cls) return nullptr;
    PyObject* tp_dict = reinterpret_cast<PyTypeObject*>(cls.get())->tp_dict;
    Ref getitem = Ref::borrow(PyDict_GetItemWithError(tp_dict, state.names.getitem));
    Ref sm = Ref::borrow(getitem ? PyDict_GetItemWithError(tp_dict, state.names.transform_raw)
                                 : nullptr);
    if (!sm) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "base class incomplete");
        return nullptr;
    }
    Ref fn = Ref::steal(PyObject_GetAttrString(sm.get(), "__func__"));
    if (!fn) return nullptr;
    state.base = new_ref(cls.get());
    state.getitem_descr = getitem.release();
    state.transform_fn = fn.release();
    return cls.release();
}

}  // namespace solace
}  // namespace orvane
