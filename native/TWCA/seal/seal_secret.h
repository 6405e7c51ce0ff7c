// Copies of secrets (passwords, protected passwords) that the engine reads
// without the interpreter lock; wiped when they go out of scope.
#pragma once

#include <openssl/crypto.h>

#include <string>

#include "common/ref.h"
#include "seal_state.h"

namespace seal {

// The output area of MakeTWCASignPasswd, zeroed at creation and wiped at the
// end of the call, however it ends.
struct SecretBuffer {
    char data[kProtectedCapacity + 1] = {};
    ~SecretBuffer() { OPENSSL_cleanse(data, sizeof data); }
};

// A password's bytes copied out of a bytes object.
class SecretText {
public:
    SecretText() = default;
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;
    ~SecretText() { wipe(); }

    // False with TypeError when `bytes` is not a bytes object.
    bool assign(PyObject* bytes) {
        const char* data = PyBytes_AsString(bytes);
        if (!data) return false;
        wipe();
        text_.assign(data, static_cast<size_t>(PyBytes_GET_SIZE(bytes)));
        return true;
    }
    const char* c_str() const { return text_.c_str(); }
    void wipe() {
        if (!text_.empty()) OPENSSL_cleanse(&text_[0], text_.size());
        text_.clear();
    }

private:
    std::string text_;
};

}  // namespace seal
