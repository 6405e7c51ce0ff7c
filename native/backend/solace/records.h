// Concrete record classes of the market-data modules, each described by one
// table with a row per field.
//
// A row names the slot, the factory arguments the slot's value comes from
// and how it is converted, and the slot's line in the docstring of
// __init__. From the table come the class's list-valued __slots__, the
// parameters and text signatures of __init__ and of the factories, the
// docstring, and the factories' conversions, made in slot order (which is
// the order of evaluation the records promise). A factory's conversions are
// compiled from the table (Factory below), so each factory is as direct as
// code written out by hand.
//
// A RecordClass remembers where each slot lives in the instance so that the
// factories and __init__ can fill an instance of the exact class directly;
// that shortcut is taken only while the class and its bases are as this
// module made them (ClassWatch), so a class patched at run time, or a
// subclass, goes through the ordinary attribute and call protocol.
#pragma once

#include "backend/solace/decimals.h"
#include "backend/solace/module_state.h"
#include "common/args.h"
#include "common/class_watch.h"
#include "common/classes.h"
#include "common/text.h"

#include <array>
#include <cstddef>
#include <string>
#include <utility>

namespace orvane {
namespace solace {

// How a factory makes a slot's value from its arguments.
enum class Conv : unsigned char {
    Text,           // stored unchanged; must be a str or None
    Plain,          // stored unchanged, not tested (numbers, volume lists, flags)
    Time,           // datetime_parser(date, time): two arguments, each a str or None
    Decimal,        // Decimal(x); x a str or None
    DecimalOrZero,  // Decimal(x) if x else Decimal("0.0"); x a str or None
    Percent,        // Decimal(x) * Decimal("0.01"), for a rate in hundredths of a percent
    DecimalList,    // list(map(Decimal, x))
    Flag,           // no argument: the factory's own integer
};

// One row of a record class's table.
struct Field {
    const char* slot;     // the slot, and the __init__ parameter of that name
    const char* args[2];  // the factory parameters it is made from (two for Time, none for Flag)
    Conv conv;
    const char* doc;      // its line in __init__'s docstring, or null for none
};

// True for a conversion that takes only a str or None.
constexpr bool takes_text(Conv c) {
    return c == Conv::Text || c == Conv::Time || c == Conv::Decimal || c == Conv::DecimalOrZero;
}

constexpr size_t count_args(const Field* fields, size_t n) {
    size_t count = 0;
    for (size_t i = 0; i < n; ++i)
        for (const char* a : fields[i].args) count += a != nullptr;
    return count;
}

// The factory parameters of a table in the order of its rows.
template <const auto& Fields>
constexpr auto args_in_row_order() {
    std::array<const char*, count_args(Fields, std::size(Fields))> out{};
    size_t n = 0;
    for (const Field& f : Fields)
        for (const char* a : f.args)
            if (a) out[n++] = a;
    return out;
}
template <const auto& Fields>
inline constexpr auto kArgsInRowOrder = args_in_row_order<Fields>();

// Entry point of a fast-call method (__init__).
using FastFunction = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);
// Entry point of a factory: (cls, args, kwargs). Factories are called with
// `**content`, which the interpreter then hands over as the dict itself
// instead of unpacking it into a keyword vector first.
using DictFunction = PyObject* (*)(PyObject*, PyObject*, PyObject*);

class FactoryMethod;

class RecordClass {
public:
    // The most slots a record class may have (the fast paths keep one
    // pointer per slot on the stack).
    static constexpr Py_ssize_t kMaxSlots = 64;
    static constexpr size_t kMaxFactories = 2;

    // `summary` is the docstring's first line, `doc_end` what follows its
    // last line break; `init` is the entry point of __init__ (init_entry).
    template <size_t N>
    RecordClass(const char* name, const Field (&fields)[N], const char* summary,
                const char* doc_end, FastFunction init)
        : RecordClass(name, fields, summary, doc_end, init, std::make_index_sequence<N>{}) {
        static_assert(N <= kMaxSlots, "too many slots");
    }

    const char* name() const { return name_; }
    Py_ssize_t size() const { return size_; }
    PyObject* type() const { return type_; }

    // Makes the class: type(name, (base,), {"__slots__": [...], ...}) with
    // __init__ and the factories bound into it. Returns a new reference.
    PyObject* create(PyObject* module, PyObject* base);

    // __init__(self, <one argument per slot>): checks the Text fields, then
    // stores each argument in the slot of the same name, in order.
    PyObject* init(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

    // `cls(*values)`: a new record. An instance of exactly this class, while
    // unchanged, is made and filled directly, which is what type.__call__,
    // object.__new__ and this class's __init__ would do.
    PyObject* make(PyObject* cls, PyObject* const* values) const;

    // True while the class is fit for the fast paths: unchanged since create()
    // (no attribute of it or of its bases set or deleted, the same bases), or
    // changed only where they do not look (revalidate()).
    bool unchanged() const { return watch_ && (watch_->unchanged() || revalidate()); }

    // True when `keys` is this class's slot list as create() made it: the
    // same names in the same order (the list itself can be changed at run time).
    bool is_slot_list(PyObject* keys) const {
        if (!PyList_CheckExact(keys) || PyList_GET_SIZE(keys) != size()) return false;
        for (Py_ssize_t i = 0; i < size(); ++i)
            if (PyList_GET_ITEM(keys, i) != slot_name(i)) return false;
        return true;
    }

    // getattr(self, <slot i>, None) for an instance of exactly this class
    // (only while unchanged()): a slot descriptor cannot be shadowed, and an
    // unset slot reads as None. New reference.
    PyObject* read(PyObject* self, Py_ssize_t i) const {
        PyObject* v = *reinterpret_cast<PyObject**>(reinterpret_cast<char*>(self) + offsets_[i]);
        return new_ref(v ? v : Py_None);
    }

    // The interned name of slot i (kept for the life of the process).
    PyObject* slot_name(Py_ssize_t i) const { return slot_names_[i]; }

    // The record class of this module whose class is exactly `tp`, if any.
    static const RecordClass* of(PyTypeObject* tp) {
        for (const RecordClass* r : state.records)
            if (r && r->type_ == reinterpret_cast<PyObject*>(tp)) return r;
        return nullptr;
    }

private:
    friend class FactoryMethod;

    template <size_t... I>
    RecordClass(const char* name, const Field* fields, const char* summary, const char* doc_end,
                FastFunction init, std::index_sequence<I...>)
        : name_(name),
          fields_(fields),
          size_(sizeof...(I)),
          init_params_("__init__", {fields[I].slot...}, sizeof...(I), 1),
          init_(init) {
        write_init_doc(summary, doc_end);
        for (size_t i = 0; i < sizeof...(I); ++i)
            if (fields[i].conv == Conv::Text) texts_[ntexts_++] = i;
    }

    void write_init_doc(const char* summary, const char* doc_end);
    void add_factory(FactoryMethod* f);
    bool store(PyObject* self, PyObject* const* values) const;
    bool revalidate() const;

    const char* name_;
    const Field* fields_;
    Py_ssize_t size_;
    Params init_params_;
    FastFunction init_;
    std::string init_doc_;  // text signature and docstring of __init__
    size_t texts_[kMaxSlots] = {};  // the Text fields, which __init__ tests
    size_t ntexts_ = 0;
    FactoryMethod* factories_[kMaxFactories] = {};
    bool overfull_ = false;  // more factories than factories_ holds: create() refuses
    Method methods_[1 + kMaxFactories + 1] = {};  // __init__, the factories, the end mark
    PyObject* type_ = nullptr;
    PyObject* slot_names_[kMaxSlots] = {};  // interned, in slot order
    Py_ssize_t offsets_[kMaxSlots] = {};
    PyObject* member_descrs_[kMaxSlots] = {};  // the slot descriptors type() made
    PyObject* init_descr_ = nullptr;           // this module's __init__ descriptor
    newfunc tp_new_ = nullptr;
    initproc tp_init_ = nullptr;
    setattrofunc tp_setattro_ = nullptr;
    getattrofunc tp_getattro_ = nullptr;
    ClassWatch* watch_ = nullptr;     // the class as last found fit
    ClassWatch* rejected_ = nullptr;  // the class as last found unfit
};

// What a record class binds for one of its factories: the name, the entry
// point, the parameters and their text signature.
class FactoryMethod {
public:
    const char* name() const { return name_; }
    const Field* fields() const { return fields_; }
    // The method entry for the class (valid for the life of the process).
    Method method() const {
        return {{name_, fast(entry_), METH_VARARGS | METH_KEYWORDS, doc_.c_str()}, Kind::Class};
    }

protected:
    FactoryMethod(RecordClass& record, const Field* fields, const char* name, Params params,
                  DictFunction entry);

    RecordClass& record_;
    const Field* fields_;  // the table the factory was compiled from
    const char* name_;
    Params params_;
    DictFunction entry_;
    std::string doc_;  // text signature
};

// The new references a factory made, released when it returns.
class Made {
public:
    Made() = default;
    Made(const Made&) = delete;
    Made& operator=(const Made&) = delete;
    ~Made() {
        for (size_t i = 0; i < n_; ++i) Py_DECREF(items_[i]);
    }
    // Takes over `o` (a new reference, not null) and hands it back borrowed.
    PyObject* keep(PyObject* o) {
        items_[n_++] = o;
        return o;
    }

private:
    PyObject* items_[RecordClass::kMaxSlots];
    size_t n_ = 0;
};

// The value a conversion makes from a field's arguments (`y` only for
// Time); `decimal` is the module's Decimal as the call last looked it up.
// New reference.
template <Conv C>
PyObject* converted(PyObject* x, PyObject* y, long flag, DecimalName& decimal) {
    if constexpr (C == Conv::Time) {
        PyObject* date_time[2] = {x, y};
        decimal.forget();  // the parser may run any Python code
        return call_global(state.dict, state.names.datetime_parser, date_time, 2);
    } else if constexpr (C == Conv::Decimal) {
        return decimal_of(x, decimal);
    } else if constexpr (C == Conv::DecimalOrZero) {
        return decimal_or_zero(x, decimal);
    } else if constexpr (C == Conv::Percent) {
        return percent_of(x, decimal);
    } else if constexpr (C == Conv::DecimalList) {
        return decimal_list(x, decimal);
    } else {
        static_assert(C == Conv::Flag, "a conversion that makes no value");
        return PyLong_FromLong(flag);
    }
}

constexpr bool same_name(const char* a, const char* b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

// A class-method factory of a record class whose table is `Fields`, with
// the parameters `ArgNames` (by default the table's arguments in row order).
// Where each field's arguments are among the parameters is worked out when
// this compiles, so the factory reads them from fixed places.
template <const auto& Fields, const auto& ArgNames = kArgsInRowOrder<Fields>>
class Factory : public FactoryMethod {
    static constexpr size_t kSlots = std::size(Fields);
    static constexpr size_t kArgs = std::size(ArgNames);
    static_assert(kSlots <= RecordClass::kMaxSlots, "too many slots");

    // The index of each field's arguments among the parameters (kArgs: none).
    static constexpr std::array<std::array<size_t, 2>, kSlots> kArgOf = [] {
        std::array<std::array<size_t, 2>, kSlots> out{};
        for (size_t i = 0; i < kSlots; ++i) {
            for (size_t k = 0; k < 2; ++k) {
                out[i][k] = kArgs;
                for (size_t j = 0; j < kArgs && Fields[i].args[k]; ++j)
                    if (same_name(ArgNames[j], Fields[i].args[k])) out[i][k] = j;
            }
        }
        return out;
    }();

    // Every parameter is the argument of exactly one field, every argument a
    // parameter; Time has two arguments, Flag none, the others one.
    static constexpr bool fits() {
        size_t uses[kArgs + 1] = {};
        for (size_t i = 0; i < kSlots; ++i) {
            const size_t want = Fields[i].conv == Conv::Time ? 2 : Fields[i].conv == Conv::Flag ? 0 : 1;
            for (size_t k = 0; k < 2; ++k) {
                if ((k < want) != (Fields[i].args[k] != nullptr)) return false;
                if (Fields[i].args[k]) ++uses[kArgOf[i][k]];
            }
        }
        for (size_t j = 0; j < kArgs; ++j)
            if (uses[j] != 1) return false;
        return uses[kArgs] == 0;
    }
    static_assert(fits(), "the table's arguments and the factory's parameters disagree");

    // The parameters that must be a str or None.
    static constexpr std::array<bool, kArgs> kTested = [] {
        std::array<bool, kArgs> out{};
        for (size_t i = 0; i < kSlots; ++i)
            for (size_t k = 0; k < 2; ++k)
                if (Fields[i].args[k]) out[kArgOf[i][k]] = takes_text(Fields[i].conv);
        return out;
    }();

public:
    // `entry` is the factory's entry point (factory_entry); `flag` the value
    // of a Flag field.
    Factory(RecordClass& record, const char* name, DictFunction entry, long flag = 0)
        : FactoryMethod(record, Fields, name, params(name, std::make_index_sequence<kArgs>{}), entry),
          flag_(flag) {}

    // Parses and tests the arguments, converts them field by field in slot
    // order, and makes the record through the class.
    PyObject* call(PyObject* cls, PyObject* args, PyObject* kwargs) {
        return guarded([&]() -> PyObject* {
            // On a cache line: own() copies the argument slots as a block.
            alignas(64) Args<kArgs> a;
            if (!params_.parse_tuple(args, kwargs, a)) return nullptr;
            if (!check(a, std::make_index_sequence<kArgs>{})) return nullptr;
            Made made;
            PyObject* values[kSlots];
            DecimalName decimal;
            if (!convert(a, made, values, decimal, std::make_index_sequence<kSlots>{})) return nullptr;
            return record_.make(cls, values);
        });
    }

private:
    template <size_t... J>
    static Params params(const char* name, std::index_sequence<J...>) {
        return Params(name, {ArgNames[J]...}, kArgs, 1);
    }

    // The tested parameters, in parameter order.
    template <size_t... J>
    bool check(Args<kArgs>& a, std::index_sequence<J...>) const {
        return (check_one<J>(a) && ...);
    }
    template <size_t J>
    bool check_one(Args<kArgs>& a) const {
        if constexpr (kTested[J])
            return str_or_none(a[J], name_, ArgNames[J]);
        else
            return true;
    }

    // values[i] for each field, the conversions in slot order.
    template <size_t... I>
    bool convert(Args<kArgs>& a, Made& made, PyObject** values, DecimalName& decimal,
                 std::index_sequence<I...>) const {
        return (convert_one<I>(a, made, values, decimal) && ...);
    }
    template <size_t I>
    bool convert_one(Args<kArgs>& a, Made& made, PyObject** values, DecimalName& decimal) const {
        constexpr Conv conv = Fields[I].conv;
        if constexpr (conv == Conv::Text || conv == Conv::Plain) {
            values[I] = a[kArgOf[I][0]];
        } else {
            PyObject* v = converted<conv>(arg<kArgOf[I][0]>(a), arg<kArgOf[I][1]>(a), flag_, decimal);
            if (!v) return false;
            values[I] = made.keep(v);
        }
        return true;
    }
    template <size_t J>
    static PyObject* arg(Args<kArgs>& a) {
        if constexpr (J < kArgs)
            return a[J];
        else
            return nullptr;
    }

    long flag_;
};

// The C entry points of __init__ and of a factory, one per object.
template <RecordClass* R>
PyObject* init_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return R->init(self, args, nargs, kwnames);
}

template <auto* F>
PyObject* factory_entry(PyObject* cls, PyObject* args, PyObject* kwargs) {
    return F->call(cls, args, kwargs);
}

}  // namespace solace
}  // namespace orvane
