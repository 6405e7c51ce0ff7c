// The properties file of one initialisation or activation: written from the
// filled template, read by the engine, and removed before the call that wrote
// it returns, on success and on every failure.
#pragma once

#include "common/ref.h"
#include "seal_state.h"
#include "seal_text.h"

namespace seal {

class PropertiesFile {
public:
    explicit PropertiesFile(PyObject* path) : path_(path) {}
    PropertiesFile(const PropertiesFile&) = delete;
    PropertiesFile& operator=(const PropertiesFile&) = delete;
    // A file still on disk when the call ends (an exception on the way) is
    // removed; the pending exception stays.
    ~PropertiesFile() {
        if (written_) unlink_quietly(path_);
    }
    // path.write_bytes(content)
    bool write(PyObject* content) {
        orvane::Ref r = orvane::Ref::steal(orvane::call_method(path_, g.n.write_bytes, &content, 1));
        if (!r) return false;
        written_ = true;
        return true;
    }
    // Deletes the file now; false with an exception when that fails.
    bool remove() {
        written_ = false;
        return unlink_quietly(path_);
    }

private:
    PyObject* path_;
    bool written_ = false;
};

}  // namespace seal
