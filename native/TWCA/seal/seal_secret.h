// Copies of secrets (passwords, protected passwords) that the engine reads
// without the interpreter lock; wiped when they go out of scope.
#pragma once

#include <openssl/crypto.h>

#include <string>

#include "common/ref.h"
#include "seal_state.h"

namespace orvane::seal {

// The output area of MakeTWCASignPasswd, zeroed at creation and wiped at the
// end of the call, however it ends.
struct SecretBuffer {
    char data[kProtectedCapacity + 1] = {};
    ~SecretBuffer() { OPENSSL_cleanse(data, sizeof data); }
};

// A password's bytes, held outside Python objects.
class SecretText {
public:
    SecretText() = default;
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;
    ~SecretText() { wipe(); }

    // password.encode(encoding), kept here. The password is refused with
    // ValueError when it holds a zero byte (the engine would take only what
    // precedes it). A password the codec cannot encode raises
    // UnicodeEncodeError without any part of the password in it, its
    // arguments or its context. The encoded bytes object is wiped when no
    // one else holds it. False with an exception set.
    bool take(PyObject* password, PyObject* encoding);

    const char* c_str() const { return text_.c_str(); }
    void wipe() {
        if (!text_.empty()) OPENSSL_cleanse(&text_[0], text_.size());
        text_.clear();
    }

private:
    std::string text_;
};

}  // namespace orvane::seal
