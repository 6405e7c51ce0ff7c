#include "pfx_check.h"

#include <cstring>

#include "TWCASign.h"
#include "cBytes.h"
#include "cFile.h"
#include "cPkcs12.h"
#include "cProperty.h"
#include "cSsl.h"
#include "cSslPtr.h"
#include "cX509.h"

namespace orvane::certcheck {
namespace {

// Capacity of the protected password, as the signing session uses it.
constexpr int kProtectedArea = 512;

struct ProtectedArea {
    char bytes[kProtectedArea + 1] = {};  // one spare zero byte ends the text
    ~ProtectedArea() { OPENSSL_cleanse(bytes, sizeof bytes); }
};

std::string serial_hex(const X509* cert) {
    const ASN1_INTEGER* serial = X509_get0_serialNumber(cert);
    if (serial == nullptr) return std::string();
    BignumPtr bn(ASN1_INTEGER_to_BN(serial, nullptr));
    if (!bn) return std::string();
    SslTextPtr hex(BN_bn2hex(bn.get()));
    return hex ? std::string(hex.get()) : std::string();
}

bool has_key_usage_extension(const X509* cert) {
    return X509_get_ext_by_NID(cert, NID_key_usage, -1) >= 0;
}

}  // namespace

bool verify_probe(const char* signature_b64, const X509* cert, const std::string& expected, std::string& error) {
    cSslErrorGuard guard;
    if (cert == nullptr) {
        error = "no certificate to verify with";
        return false;
    }
    cBytes der;
    if (signature_b64 == nullptr || !der.base64Decode(signature_b64)) {
        error = "the signature is not base64";
        return false;
    }
    const unsigned char* p = der.getData();
    Pkcs7Ptr p7(d2i_PKCS7(nullptr, &p, der.getLength()));
    if (!p7) {
        error = "the signature is not DER PKCS#7";
        return false;
    }
    X509StackViewPtr signers(sk_X509_new_null());
    X509StorePtr store(X509_STORE_new());
    BioPtr content(BIO_new(BIO_s_mem()));
    if (!signers || !store || !content || sk_X509_push(signers.get(), const_cast<X509*>(cert)) <= 0) {
        error = "out of memory";
        return false;
    }
    // Only the certificate from the file may have made the signature; the
    // chain is not the question here.
    const int flags = PKCS7_NOINTERN | PKCS7_NOVERIFY | PKCS7_BINARY;
    if (PKCS7_verify(p7.get(), signers.get(), store.get(), nullptr, content.get(), flags) != 1) {
        error = cSslFirstErrorText();
        if (error.empty()) error = "PKCS7_verify failed";
        return false;
    }
    char* data = nullptr;
    const long length = BIO_get_mem_data(content.get(), &data);
    if (length < 0 || static_cast<size_t>(length) != expected.size() ||
        (length > 0 && std::memcmp(data, expected.data(), expected.size()) != 0)) {
        error = "the signed content differs from the probe text";
        return false;
    }
    return true;
}

void run_pfx_check(const char* property_file, const char* password, const char* probe, PfxCheck& out) {
    // Set the log up before the first engine call, so the lines of this check
    // go to its file rather than waiting in memory for the end of the process.
    {
        cProperty props;
        if (props.loadFromFile(property_file))
            cFile::createFolder(props.getProperty("LOG.path").c_str(), props.getProperty("LOG.file").c_str());
    }

    TWCASign signer;
    ProtectedArea enced;
    int enced_len = kProtectedArea;
    out.protect = signer.MakeTWCASignPasswd(enced.bytes, &enced_len, property_file, password);
    if (out.protect != 0) return;
    out.load = signer.TWCASignInitial(property_file, enced.bytes);
    if (out.load != 0) return;

    // The credential is read under the facade's lock; its certificate is kept
    // (a reference of our own) to verify the probe against.
    X509Ptr cert;
    const bool loaded = signer.withCredential([&](const cPkcs12* credential) {
        if (credential == nullptr) return false;
        const X509* c = credential->getCertificate();
        out.subject = cX509::subjectName(c);
        out.issuer = cX509::issuerName(c);
        out.serial = serial_hex(c);
        out.not_before = cX509::notBefore(c);
        out.not_after = cX509::notAfter(c);
        out.key_usage = cPkcs12::keyUsageValue(c);
        out.has_key_usage = has_key_usage_extension(c);
        out.extra_certificates = credential->countExtraCertificates();
        out.validity = credential->checkCertValid();
        out.key_usage_check = credential->checkKeyUsageForSign();
        if (X509_up_ref(const_cast<X509*>(c)) == 1) cert.reset(const_cast<X509*>(c));
        return true;
    });
    if (!loaded) return;

    // The probe is signed as a session signs: BIG5 text, the properties'
    // digest and validity check.
    std::string signature;
    out.sign = signer.SignPkcs7(probe, "BIG5", signature);
    if (out.sign == 0) out.verified = verify_probe(signature.c_str(), cert.get(), probe, out.verify_error);
}

}  // namespace orvane::certcheck
