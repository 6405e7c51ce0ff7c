// Making a new list item by item.
//
// The items are kept on the stack and the list is made, at its final size,
// once they are all there: a short list (a record's five price levels) costs
// one allocation instead of growing append by append, and no list with part
// of its items missing ever exists for other code (a finalizer, the
// collector) to find. A list longer than the stack holds goes on by
// appending.
#pragma once

#include "common/ref.h"

#include <cstddef>

namespace orvane {

template <size_t K = 16>
class ListBuilder {
public:
    ListBuilder() = default;
    ListBuilder(const ListBuilder&) = delete;
    ListBuilder& operator=(const ListBuilder&) = delete;
    ~ListBuilder() {
        for (size_t i = 0; i < n_; ++i) Py_DECREF(items_[i]);
    }

    // Adds `item`, a new reference, which it takes over (null: an error
    // already set, passed on). Returns false with an exception set.
    bool add(PyObject* item) {
        if (!item) return false;
        if (n_ == K && !spill()) {
            Py_DECREF(item);
            return false;
        }
        if (list_) {
            const int r = PyList_Append(list_.get(), item);
            Py_DECREF(item);
            return r == 0;
        }
        items_[n_++] = item;
        return true;
    }

    // The list of the items added, in order. New reference.
    PyObject* finish() {
        if (list_) return list_.release();
        PyObject* out = PyList_New(static_cast<Py_ssize_t>(n_));
        if (!out) return nullptr;
        for (size_t i = 0; i < n_; ++i) PyList_SET_ITEM(out, static_cast<Py_ssize_t>(i), items_[i]);
        n_ = 0;
        return out;
    }

private:
    // Moves the items kept so far into a list, which the rest are appended to.
    bool spill() {
        list_ = Ref::steal(PyList_New(static_cast<Py_ssize_t>(n_)));
        if (!list_) return false;
        for (size_t i = 0; i < n_; ++i) PyList_SET_ITEM(list_.get(), static_cast<Py_ssize_t>(i), items_[i]);
        n_ = 0;
        return true;
    }

    PyObject* items_[K];
    size_t n_ = 0;
    Ref list_;
};

}  // namespace orvane
