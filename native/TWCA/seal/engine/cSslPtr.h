// Owners of OpenSSL libcrypto objects: a std::unique_ptr whose deleter calls
// the object's free function.  Every owned libcrypto handle is held by one of
// these (in the engine, the certificate check and their tests); a borrowed
// handle stays a raw pointer.
#ifndef ORVANE_ENGINE_CSSLPTR_H
#define ORVANE_ENGINE_CSSLPTR_H

#include <memory>

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

// std::unique_ptr deleter calling libcrypto's free function `Fn`.
template <auto Fn>
struct cSslDeleter {
    template <class T>
    void operator()(T* p) const { Fn(p); }
};

template <class T, auto Fn>
using cSslPtr = std::unique_ptr<T, cSslDeleter<Fn>>;

// Stacks are freed with their items, except a stack of borrowed items (a
// "view"), which frees the stack alone.
inline void cSslFreeX509Stack(STACK_OF(X509)* s) { sk_X509_pop_free(s, X509_free); }
inline void cSslFreeX509StackView(STACK_OF(X509)* s) { sk_X509_free(s); }
inline void cSslFreeDistPoints(STACK_OF(DIST_POINT)* s) { sk_DIST_POINT_pop_free(s, DIST_POINT_free); }
inline void cSslFreePkcs7Stack(STACK_OF(PKCS7)* s) { sk_PKCS7_pop_free(s, PKCS7_free); }
inline void cSslFreeSafeBags(STACK_OF(PKCS12_SAFEBAG)* s) { sk_PKCS12_SAFEBAG_pop_free(s, PKCS12_SAFEBAG_free); }
// A block that libcrypto allocated for its caller (i2d_... output, BN_bn2hex).
inline void cSslFreeBlock(void* p) { OPENSSL_free(p); }

// The owners used in many places; others are spelled out where they are used,
// e.g. cSslPtr<X509_CRL, X509_CRL_free>.
using X509Ptr = cSslPtr<X509, X509_free>;
using X509StackViewPtr = cSslPtr<STACK_OF(X509), cSslFreeX509StackView>;
using X509StorePtr = cSslPtr<X509_STORE, X509_STORE_free>;
using EvpPkeyPtr = cSslPtr<EVP_PKEY, EVP_PKEY_free>;
using BignumPtr = cSslPtr<BIGNUM, BN_free>;
using Pkcs7Ptr = cSslPtr<PKCS7, PKCS7_free>;
using Pkcs12Ptr = cSslPtr<PKCS12, PKCS12_free>;
using BioPtr = cSslPtr<BIO, BIO_free_all>;
using AsnStringPtr = cSslPtr<ASN1_STRING, ASN1_STRING_free>;   // also octet and bit strings
using SslBytesPtr = cSslPtr<unsigned char, cSslFreeBlock>;
using SslTextPtr = cSslPtr<char, cSslFreeBlock>;

#endif
