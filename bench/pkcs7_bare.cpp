// The limit for the signing benchmark: a bare loop over libcrypto doing what
// one signature of the signing module does (PKCS7_sign with SHA-256, the
// signer's certificate embedded, the content embedded, no signed attributes,
// binary content), then i2d and base64 without line breaks.
//
// usage: pkcs7_bare KEY.pem CERT.pem TEXT COUNT
// prints: COUNT SECONDS TOTAL_BASE64_BYTES
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

template <class T, void (*F)(T*)>
struct Free {
    void operator()(T* p) const { F(p); }
};
using Bio = std::unique_ptr<BIO, Free<BIO, BIO_free_all>>;
using Key = std::unique_ptr<EVP_PKEY, Free<EVP_PKEY, EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Free<X509, X509_free>>;
using P7 = std::unique_ptr<PKCS7, Free<PKCS7, PKCS7_free>>;

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s KEY.pem CERT.pem TEXT COUNT\n", argv[0]);
        return 2;
    }
    Bio kb(BIO_new_file(argv[1], "r")), cb(BIO_new_file(argv[2], "r"));
    if (!kb || !cb) return 1;
    Key key(PEM_read_bio_PrivateKey(kb.get(), nullptr, nullptr, nullptr));
    Cert cert(PEM_read_bio_X509(cb.get(), nullptr, nullptr, nullptr));
    if (!key || !cert) return 1;
    const char* text = argv[3];
    const int len = static_cast<int>(std::strlen(text));
    const long count = std::atol(argv[4]);
    std::vector<unsigned char> b64;
    size_t total = 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i) {
        Bio in(BIO_new_mem_buf(text, len));
        P7 p7(PKCS7_sign(nullptr, nullptr, nullptr, nullptr, PKCS7_BINARY | PKCS7_PARTIAL | PKCS7_NOATTR));
        if (!in || !p7) return 1;
        if (!PKCS7_sign_add_signer(p7.get(), cert.get(), key.get(), EVP_sha256(),
                                   PKCS7_BINARY | PKCS7_NOATTR))
            return 1;
        if (!PKCS7_final(p7.get(), in.get(), PKCS7_BINARY)) return 1;
        unsigned char* der = nullptr;
        const int n = i2d_PKCS7(p7.get(), &der);
        if (n <= 0) return 1;
        b64.resize(4 * ((static_cast<size_t>(n) + 2) / 3) + 1);
        total += static_cast<size_t>(EVP_EncodeBlock(b64.data(), der, n));
        OPENSSL_free(der);
    }
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::printf("%ld %.6f %zu\n", count, secs, total);
    return 0;
}
