// OpenSSL set-up of the signing engine: the once-per-process provider set-up,
// and the guard that keeps OpenSSL's error queue from leaking stale errors
// across calls (the owners of libcrypto objects are in cSslPtr.h).
#ifndef ORVANE_ENGINE_CSSL_H
#define ORVANE_ENGINE_CSSL_H

#include <openssl/err.h>

// Loads the `legacy` (RC2-40, 3DES PKCS#12 files) and `default` providers,
// when present, and registers ciphers and digests. Runs once per process.
void cSslInitialise();

// Text of the first error in OpenSSL's queue (empty when none); the queue is
// left as it is.
const char* cSslFirstErrorText();

// Clears OpenSSL's error queue when it goes out of scope. Created at the
// entry of every engine operation that calls libcrypto; drain() writes the
// queue into the log as ERROR lines on failure.
class cSslErrorGuard {
public:
    cSslErrorGuard() = default;
    ~cSslErrorGuard();
    cSslErrorGuard(const cSslErrorGuard&) = delete;
    cSslErrorGuard& operator=(const cSslErrorGuard&) = delete;

    // Writes every queued OpenSSL error to the log and empties the queue.
    static void drain();
};

#endif
