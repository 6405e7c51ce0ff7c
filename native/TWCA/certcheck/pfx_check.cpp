#include "pfx_check.h"

#include <cstring>

#include "engine/TWCASign.h"
#include "engine/cBytes.h"
#include "engine/cFile.h"
#include "engine/cPkcs12.h"
#include "engine/cProperty.h"
#include "engine/cSsl.h"
#include "engine/cX509.h"

namespace orvane::certcheck {
namespace {

// Capacity of the protected password, as the signing session uses it.
constexpr int kProtectedArea = 512;

struct ProtectedArea {
    char bytes[kProtectedArea + 1] = {};  // one spare zero byte ends the text
    ~ProtectedArea() { OPENSSL_cleanse(bytes, sizeof bytes); }
};

void free_text(char* p) { OPENSSL_free(p); }
using BignumPtr = cSslPtr<BIGNUM, BN_free>;
using OsslTextPtr = cSslPtr<char, free_text>;

std::string serial_hex(const X509* cert) {
    const ASN1_INTEGER* serial = X509_get0_serialNumber(cert);
    if (serial == nullptr) return std::string();
    BignumPtr bn(ASN1_INTEGER_to_BN(serial, nullptr));
    if (!bn) return std::string();
    OsslTextPtr hex(BN_bn2hex(bn.get()));
    return hex ? std::string(hex.get()) : std::string();
}

bool has_key_usage_extension(const X509* cert) {
    return X509_get_ext_by_NID(cert, NID_key_usage, -1) >= 0;
}

}  // namespace

bool verify_probe(const char* signature_b64, const X509* cert, const std::string& expected, std::string& error) {
    cSslErrorGuard guard;
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
    if (out.load != 0 || !signer.credential) return;

    const cPkcs12& credential = *signer.credential;
    const X509* cert = credential.getCertificate();
    out.subject = cX509::subjectName(cert);
    out.issuer = cX509::issuerName(cert);
    out.serial = serial_hex(cert);
    out.not_before = cX509::notBefore(cert);
    out.not_after = cX509::notAfter(cert);
    out.key_usage = cPkcs12::keyUsageValue(cert);
    out.has_key_usage = has_key_usage_extension(cert);
    out.extra_certificates = credential.countExtraCertificates();
    out.validity = credential.checkCertValid();
    out.key_usage_check = credential.checkKeyUsageForSign();

    // The probe is signed as a session signs: BIG5 text, the properties'
    // digest and validity check.
    out.sign = signer.SignPkcs7(probe, "BIG5");
    if (out.sign == 0) out.verified = verify_probe(signer.getSignature(), cert, probe, out.verify_error);
}

}  // namespace orvane::certcheck
