// Argument parsing for METH_FASTCALL | METH_KEYWORDS functions.
//
// Binds positional and keyword arguments to a fixed parameter list the way a
// Python `def` does, and reports mistakes with the interpreter's own wording:
//
//   f() missing 1 required positional argument: 'code'
//   f() missing 2 required positional arguments: 'a' and 'b'
//   f() takes 3 positional arguments but 4 were given
//   f() got an unexpected keyword argument 'x'
//   f() got multiple values for argument 'x'
//   keywords must be strings
//
// Usage:
//   static orvane::Params P("from_content", {"cls", "code", ...}, /*required*/36, /*bound*/1);
//   orvane::Args<36> argv;
//   if (!P.parse(args, nargs, kwnames, argv)) return nullptr;
//
// The parsed arguments are owned by `argv` (a strong reference each, released
// when it goes out of scope). What a caller passes may be borrowed from
// storage it can change while our code runs Python code: tp_new receives the
// caller's own keyword dict (`f(**d)` on CPython 3.8, `operator.methodcaller`,
// `_thread.start_new_thread`), and a functools.partial passes its stored
// arguments without references (its __setstate__ replaces them), so a
// `__index__` or `__format__` of one argument can free the others.
//
// `bound` names leading parameters that the caller never passes (self, cls):
// they are left out of the parameter list but counted in the "takes N
// positional arguments" message, as Python counts them. Parameter names are
// interned once, on the first call (the interpreter holds the GIL then), and
// keywords are matched first by identity, then by content.
#pragma once

#include "common/ref.h"
#include "common/text.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace orvane {

class Params;

// The parsed arguments of one call: N slots, each a strong reference to the
// argument given for that parameter (null for an optional one not given).
// `argv[i]` reads slot i as a plain PyObject*, and `argv` converts to the
// array, so code written for `PyObject* argv[N]` reads it unchanged. A slot
// may be overwritten (a default put in place of a missing argument); the
// caller keeps what it writes alive, and the references taken by parse() are
// released when `argv` goes out of scope either way.
template <size_t N>
class Args {
public:
    Args() noexcept = default;
    Args(const Args&) = delete;
    Args& operator=(const Args&) = delete;
    ~Args() {
        for (size_t i = 0; i < owned_; ++i) Py_XDECREF(own_[i]);
    }

    // Any integer or enum index (a template, so that it is never ambiguous
    // with the array conversion below).
    template <class I>
    PyObject*& operator[](I i) noexcept {
        return slot_[static_cast<size_t>(i)];
    }
    operator PyObject**() noexcept { return slot_; }

private:
    friend class Params;
    // Takes a reference to each of the first n slots.
    void own(size_t n) noexcept {
        for (size_t i = 0; i < n; ++i) {
            own_[i] = slot_[i];
            Py_XINCREF(own_[i]);
        }
        owned_ = n;
    }

    PyObject* slot_[N];
    PyObject* own_[N];
    size_t owned_ = 0;
};

class Params {
public:
    Params(const char* fname, std::initializer_list<const char*> names, Py_ssize_t nrequired,
           Py_ssize_t nbound = 0)
        : fname_(fname), names_(names), nrequired_(nrequired), nbound_(nbound) {}

    Py_ssize_t size() const { return static_cast<Py_ssize_t>(names_.size()); }
    const char* name(Py_ssize_t i) const { return names_[static_cast<size_t>(i)]; }
    // The interned name of parameter i (valid after the first parse or intern()).
    PyObject* interned(Py_ssize_t i) { return intern() ? keys_[static_cast<size_t>(i)].key : nullptr; }

    // Fills out[0..size()) with strong references; optional parameters that
    // were not given are left null. Returns false with an exception set.
    template <size_t N>
    bool parse(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Args<N>& out) {
        if (!fits(N)) return false;
        if (!bind(args, nargs, kwnames, out.slot_)) return false;
        out.own(static_cast<size_t>(size()));
        return true;
    }

    // For a parameter list that is empty: only checks that nothing was passed.
    bool parse(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, std::nullptr_t) {
        if (!fits(0)) return false;
        return bind(args, nargs, kwnames, nullptr);
    }

    // The same for a (tuple, dict) call, as tp_new, tp_init and a
    // METH_VARARGS | METH_KEYWORDS function receive it. The values borrowed
    // from `kwargs` are only looked at until own() has taken references to
    // them; no Python code runs in between.
    template <size_t N>
    bool parse_tuple(PyObject* args, PyObject* kwargs, Args<N>& out) {
        if (!fits(N)) return false;
        const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
        if (!bind_positional(&PyTuple_GET_ITEM(args, 0), nargs, out.slot_)) return false;
        if (kwargs && PyDict_GET_SIZE(kwargs) != 0) {
            if (!intern()) return false;
            Py_ssize_t pos = 0, k = 0;
            PyObject *key, *value;
            while (PyDict_Next(kwargs, &pos, &key, &value))
                if (!bind_keyword(key, value, k++, nargs, out.slot_)) return false;
        }
        if (!bind_required(nargs, out.slot_)) return false;
        out.own(static_cast<size_t>(size()));
        return true;
    }

private:
    bool fits(size_t capacity) const {
        if (static_cast<size_t>(size()) <= capacity) return true;
        PyErr_Format(PyExc_SystemError, "%s(): argument vector too small", fname_);
        return false;
    }

    // Binds the arguments to out[0..size()) as borrowed references; no
    // Python code runs here.
    bool bind(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
        nargs = PyVectorcall_NARGS(static_cast<size_t>(nargs));
        if (!bind_positional(args, nargs, out)) return false;
        if (kwnames) {
            if (!intern()) return false;
            const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
            for (Py_ssize_t k = 0; k < nkw; ++k)
                if (!bind_keyword(PyTuple_GET_ITEM(kwnames, k), args[nargs + k], k, nargs, out))
                    return false;
        }
        return bind_required(nargs, out);
    }

    // The positional arguments to the first slots, the other slots empty.
    bool bind_positional(PyObject* const* args, Py_ssize_t nargs, PyObject** out) const {
        const Py_ssize_t n = size();
        if (nargs > n) return too_many(nargs);
        Py_ssize_t i = 0;
        for (; i < nargs; ++i) out[i] = args[i];
        for (; i < n; ++i) out[i] = nullptr;
        return true;
    }

    // The keyword argument `key`=`value`, the k-th one given, to its slot.
    bool bind_keyword(PyObject* key, PyObject* value, Py_ssize_t k, Py_ssize_t nargs,
                      PyObject** out) const {
        // CPython 3.8 passes non-str keys of **mapping through to C
        // functions; they get the interpreter's own error, and are
        // never formatted as text.
        if (!PyUnicode_Check(key)) {
            PyErr_SetString(PyExc_TypeError, "keywords must be strings");
            return false;
        }
        const Py_ssize_t slot = find(key, nargs + k, k);
        if (slot < 0) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", fname_, key);
            return false;
        }
        if (out[slot]) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", fname_,
                         names_[static_cast<size_t>(slot)]);
            return false;
        }
        out[slot] = value;
        return true;
    }

    // Every required parameter has an argument.
    bool bind_required(Py_ssize_t nargs, PyObject** out) const {
        for (Py_ssize_t j = nargs; j < nrequired_; ++j)
            if (!out[j]) return missing(out);
        return true;
    }

    bool intern() {
        if (!keys_.empty()) return true;
        std::vector<Name> keys;
        keys.reserve(names_.size());
        for (const char* nm : names_) {
            PyObject* s = PyUnicode_InternFromString(nm);
            if (!s) {
                for (Name& k : keys) Py_DECREF(k.key);
                return false;
            }
            // Kept for the life of the process, like a static, and so is its
            // text. A name that is not ASCII matches no ASCII key.
            const bool ascii = PyUnicode_IS_ASCII(s);
            keys.push_back({s, ascii ? PyUnicode_1BYTE_DATA(s) : nullptr,
                            ascii ? static_cast<size_t>(PyUnicode_GET_LENGTH(s)) : SIZE_MAX});
        }
        keys_.swap(keys);
        return true;
    }

    // Index of the parameter named `key`. Keywords usually come in the same
    // order call after call, as new str objects each time (json.loads does
    // not intern its keys): the parameter the keyword at this position
    // matched last time is tried first, by identity and then by text, then
    // the position where keywords given in parameter order would land; only
    // then are all parameters searched. Parameter names are distinct, so the
    // first match is the only one.
    Py_ssize_t find(PyObject* key, Py_ssize_t guess, Py_ssize_t k) const {
        const Py_ssize_t n = static_cast<Py_ssize_t>(keys_.size());
        if (k < kHints) {
            const Py_ssize_t h = hint_[static_cast<size_t>(k)];
            if (h < n && is_named(key, h)) return h;
        }
        Py_ssize_t j = find_slow(key, guess, n);
        if (j >= 0 && k < kHints) hint_[static_cast<size_t>(k)] = static_cast<unsigned char>(j);
        return j;
    }

    Py_ssize_t find_slow(PyObject* key, Py_ssize_t guess, Py_ssize_t n) const {
        if (guess < n && is_named(key, guess)) return guess;
        for (Py_ssize_t j = 0; j < n; ++j)
            if (keys_[static_cast<size_t>(j)].key == key) return j;
        for (Py_ssize_t j = 0; j < n; ++j)
            if (is_named(key, j)) return j;
        return -1;
    }

    // True when the str `key` has the text of parameter j. A compact ASCII
    // key (what json.loads and literals make) is compared as bytes with the
    // name's text; any other str character by character.
    bool is_named(PyObject* key, Py_ssize_t j) const {
        const Name& name = keys_[static_cast<size_t>(j)];
        if (key == name.key) return true;
        if (!PyUnicode_IS_COMPACT_ASCII(key)) return same_text(key, name.key);
        // A compact ASCII str keeps its characters right after its header.
        const size_t len = static_cast<size_t>(reinterpret_cast<PyASCIIObject*>(key)->length);
        return len == name.len &&
               same_bytes(reinterpret_cast<const unsigned char*>(reinterpret_cast<PyASCIIObject*>(key) + 1),
                          name.text, len);
    }

    // memcmp(a, b, n) == 0 for the few bytes of a parameter name, without a
    // library call: eight bytes at a time, the last eight (or four) read
    // where they end, overlapping what was compared before.
    static bool same_bytes(const unsigned char* a, const unsigned char* b, size_t n) {
        if (n >= 8) {
            if (n > 16) {
                if (!same<uint64_t>(a, b) || !same<uint64_t>(a + 8, b + 8)) return false;
                for (size_t i = 16; i + 8 < n; i += 8)
                    if (!same<uint64_t>(a + i, b + i)) return false;
            } else if (n > 8 && !same<uint64_t>(a, b)) {
                return false;
            }
            return same<uint64_t>(a + n - 8, b + n - 8);
        }
        if (n >= 4) return same<uint32_t>(a, b) && same<uint32_t>(a + n - 4, b + n - 4);
        for (size_t i = 0; i < n; ++i)
            if (a[i] != b[i]) return false;
        return true;
    }
    template <class Word>
    static bool same(const unsigned char* a, const unsigned char* b) {
        Word x, y;
        std::memcpy(&x, a, sizeof x);
        std::memcpy(&y, b, sizeof y);
        return x == y;
    }

    bool too_many(Py_ssize_t given) const {
        const Py_ssize_t most = size() + nbound_, least = nrequired_ + nbound_;
        given += nbound_;
        std::string takes = least == most
                                ? std::to_string(most)
                                : "from " + std::to_string(least) + " to " + std::to_string(most);
        PyErr_Format(PyExc_TypeError, "%s() takes %s positional argument%s but %zd %s given",
                     fname_, takes.c_str(), most == 1 && least == most ? "" : "s", given,
                     given == 1 ? "was" : "were");
        return false;
    }

    bool missing(PyObject** out) const {
        std::vector<const char*> absent;
        for (Py_ssize_t j = 0; j < nrequired_; ++j)
            if (!out[j]) absent.push_back(names_[static_cast<size_t>(j)]);
        std::string list;
        for (size_t j = 0; j < absent.size(); ++j) {
            if (j) list += absent.size() == 2 ? " and " : (j + 1 == absent.size() ? ", and " : ", ");
            list += "'";
            list += absent[j];
            list += "'";
        }
        PyErr_Format(PyExc_TypeError, "%s() missing %zd required positional argument%s: %s", fname_,
                     static_cast<Py_ssize_t>(absent.size()), absent.size() == 1 ? "" : "s",
                     list.c_str());
        return false;
    }

    const char* fname_;
    std::vector<const char*> names_;
    Py_ssize_t nrequired_;
    Py_ssize_t nbound_;
    // A parameter's interned name, and its characters when they are ASCII.
    struct Name {
        PyObject* key;
        const unsigned char* text;
        size_t len;
    };
    std::vector<Name> keys_;
    // The parameter each of the first keywords matched last time: only a
    // guess, tested before it is used (so a stale or wrapped one costs a
    // comparison, never a wrong match).
    static constexpr Py_ssize_t kHints = 64;
    mutable unsigned char hint_[kHints] = {};
};

}  // namespace orvane
