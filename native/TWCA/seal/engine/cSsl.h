// OpenSSL helpers of the signing engine: one owner template for every
// libcrypto handle, the once-per-process provider set-up, and the guard that
// keeps OpenSSL's error queue from leaking stale errors across calls.
#ifndef ORVANE_ENGINE_CSSL_H
#define ORVANE_ENGINE_CSSL_H

#include <memory>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

// std::unique_ptr deleter calling libcrypto's free function `Fn`.
template <auto Fn>
struct cSslDeleter {
    template <class T>
    void operator()(T* p) const { Fn(p); }
};

template <class T, auto Fn>
using cSslPtr = std::unique_ptr<T, cSslDeleter<Fn>>;

// A stack of certificates owning its certificates.
struct cX509StackDeleter {
    void operator()(STACK_OF(X509)* s) const { sk_X509_pop_free(s, X509_free); }
};
// A stack of borrowed certificates: frees the stack only.
struct cX509StackViewDeleter {
    void operator()(STACK_OF(X509)* s) const { sk_X509_free(s); }
};

using BioPtr = cSslPtr<BIO, BIO_free_all>;
using X509Ptr = cSslPtr<X509, X509_free>;
using X509CrlPtr = cSslPtr<X509_CRL, X509_CRL_free>;
using X509StorePtr = cSslPtr<X509_STORE, X509_STORE_free>;
using X509StoreCtxPtr = cSslPtr<X509_STORE_CTX, X509_STORE_CTX_free>;
using EvpPkeyPtr = cSslPtr<EVP_PKEY, EVP_PKEY_free>;
using EvpCipherCtxPtr = cSslPtr<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>;
using Pkcs12Ptr = cSslPtr<PKCS12, PKCS12_free>;
using Pkcs7Ptr = cSslPtr<PKCS7, PKCS7_free>;
using AsnBitStringPtr = cSslPtr<ASN1_BIT_STRING, ASN1_BIT_STRING_free>;
using X509StackPtr = std::unique_ptr<STACK_OF(X509), cX509StackDeleter>;
using X509StackViewPtr = std::unique_ptr<STACK_OF(X509), cX509StackViewDeleter>;

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
