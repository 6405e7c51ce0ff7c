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
//
// Usage:
//   static orvane::Params P("from_content", {"cls", "code", ...}, /*required*/36, /*bound*/1);
//   PyObject* argv[36];
//   if (!P.parse(args, nargs, kwnames, argv)) return nullptr;
//
// `bound` names leading parameters that the caller never passes (self, cls):
// they are left out of the parameter list but counted in the "takes N
// positional arguments" message, as Python counts them. Parameter names are
// interned once, on the first call (the interpreter holds the GIL then), and
// keywords are matched first by identity, then by content.
#pragma once

#include "common/ref.h"

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace orvane {

class Params {
public:
    Params(const char* fname, std::initializer_list<const char*> names, Py_ssize_t nrequired,
           Py_ssize_t nbound = 0)
        : fname_(fname), names_(names), nrequired_(nrequired), nbound_(nbound) {}

    Py_ssize_t size() const { return static_cast<Py_ssize_t>(names_.size()); }
    const char* name(Py_ssize_t i) const { return names_[static_cast<size_t>(i)]; }
    // The interned name of parameter i (valid after the first parse or intern()).
    PyObject* interned(Py_ssize_t i) { return intern() ? keys_[static_cast<size_t>(i)] : nullptr; }

    // Fills out[0..size()) with borrowed references; optional parameters that
    // were not given are left null. Returns false with an exception set.
    bool parse(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
        const Py_ssize_t n = size();
        nargs = PyVectorcall_NARGS(static_cast<size_t>(nargs));
        if (nargs > n) return too_many(nargs);
        Py_ssize_t i = 0;
        for (; i < nargs; ++i) out[i] = args[i];
        for (; i < n; ++i) out[i] = nullptr;
        if (kwnames) {
            if (!intern()) return false;
            const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
            for (Py_ssize_t k = 0; k < nkw; ++k) {
                PyObject* key = PyTuple_GET_ITEM(kwnames, k);
                Py_ssize_t slot = find(key, nargs + k);
                if (slot < 0) {
                    // CPython 3.8 passes non-str keys of **mapping through to
                    // C functions; '%U' of one is a fatal error there.
                    if (!PyUnicode_Check(key))
                        PyErr_Format(PyExc_TypeError, "%s() keywords must be strings", fname_);
                    else
                        PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
                                     fname_, key);
                    return false;
                }
                if (out[slot]) {
                    PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'",
                                 fname_, names_[static_cast<size_t>(slot)]);
                    return false;
                }
                out[slot] = args[nargs + k];
            }
        }
        if (nargs < nrequired_) {
            for (Py_ssize_t j = nargs; j < nrequired_; ++j)
                if (!out[j]) return missing(out);
        }
        return true;
    }

    // The same for a (tuple, dict) call, as tp_new and tp_init receive it.
    // The results borrow from `args` and `kwargs`.
    bool parse_tuple(PyObject* args, PyObject* kwargs, PyObject** out) {
        const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
        if (!kwargs || PyDict_GET_SIZE(kwargs) == 0)
            return parse(&PyTuple_GET_ITEM(args, 0), nargs, nullptr, out);
        const Py_ssize_t nkw = PyDict_GET_SIZE(kwargs);
        std::vector<PyObject*> stack(static_cast<size_t>(nargs + nkw));
        for (Py_ssize_t i = 0; i < nargs; ++i) stack[static_cast<size_t>(i)] = PyTuple_GET_ITEM(args, i);
        Ref kwnames = Ref::steal(PyTuple_New(nkw));
        if (!kwnames) return false;
        Py_ssize_t pos = 0, k = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            Py_INCREF(key);
            PyTuple_SET_ITEM(kwnames.get(), k, key);
            stack[static_cast<size_t>(nargs + k)] = value;
            ++k;
        }
        return parse(stack.data(), nargs, kwnames.get(), out);
    }

private:
    bool intern() {
        if (!keys_.empty()) return true;
        std::vector<PyObject*> keys;
        keys.reserve(names_.size());
        for (const char* nm : names_) {
            PyObject* s = PyUnicode_InternFromString(nm);
            if (!s) {
                for (PyObject* k : keys) Py_DECREF(k);
                return false;
            }
            keys.push_back(s);  // kept for the life of the process, like a static
        }
        keys_.swap(keys);
        return true;
    }

    static bool same_text(PyObject* a, PyObject* b) {
        if (PyUnicode_READY(a) < 0) {
            PyErr_Clear();
            return false;
        }
        const Py_ssize_t len = PyUnicode_GET_LENGTH(a);
        if (len != PyUnicode_GET_LENGTH(b) || PyUnicode_KIND(a) != PyUnicode_KIND(b)) return false;
        return std::memcmp(PyUnicode_DATA(a), PyUnicode_DATA(b),
                           static_cast<size_t>(len) * PyUnicode_KIND(a)) == 0;
    }

    // Index of the parameter named `key`, trying the position where keyword
    // arguments given in parameter order would land first.
    Py_ssize_t find(PyObject* key, Py_ssize_t guess) const {
        const Py_ssize_t n = static_cast<Py_ssize_t>(keys_.size());
        if (guess < n && keys_[static_cast<size_t>(guess)] == key) return guess;
        for (Py_ssize_t j = 0; j < n; ++j)
            if (keys_[static_cast<size_t>(j)] == key) return j;
        if (!PyUnicode_Check(key)) return -1;
        if (guess < n && same_text(key, keys_[static_cast<size_t>(guess)])) return guess;
        for (Py_ssize_t j = 0; j < n; ++j)
            if (same_text(key, keys_[static_cast<size_t>(j)])) return j;
        return -1;
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
    std::vector<PyObject*> keys_;
};

}  // namespace orvane
