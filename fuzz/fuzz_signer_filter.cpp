// The signer-filter parser and matcher.  The input is a filter, optionally
// followed by a zero byte and a subject name and by another zero byte and an
// issuer name (one-line form "/C=TW/O=.../CN=...").  The filter is matched
// condition by condition against those names, and as a whole against a real
// credential whose certificate carries the default names.
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include "cPkcs12.h"
#include "cSsl.h"
#include "cSslPtr.h"
#include "cX509.h"
#include "fuzz_support.h"

namespace {

const char kSubject[] = "/C=TW/O=Bank A/O=Bank B/OU=Securities/OU=Branch 01/CN=Wang Ming";
const char kIssuer[] = "/C=TW/O=Orvane Test/OU=Certification Services/CN=Orvane Test User CA";
const char kPassword[] = "filter-fuzz";

fuzzsupport::ScratchDir* scratch;
cPkcs12* credential;

void addName(X509_NAME* name, const char* field, const char* value) {
    X509_NAME_add_entry_by_txt(name, field, MBSTRING_ASC, reinterpret_cast<const unsigned char*>(value), -1, -1, 0);
}

// A PKCS#12 file with an EC key and a certificate named like the test PKI's
// user certificate, loaded through cPkcs12.
cPkcs12* makeCredential() {
    EvpPkeyPtr key(EVP_EC_gen("P-256"));
    X509Ptr cert(X509_new());
    FUZZ_CHECK(key && cert);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 0x1001);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -86400);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400L * 365);
    X509_NAME* subject = X509_get_subject_name(cert.get());
    addName(subject, "C", "TW");
    addName(subject, "O", "Bank A");
    addName(subject, "O", "Bank B");
    addName(subject, "OU", "Securities");
    addName(subject, "OU", "Branch 01");
    addName(subject, "CN", "Wang Ming");
    X509_NAME* issuer = X509_get_issuer_name(cert.get());
    addName(issuer, "C", "TW");
    addName(issuer, "O", "Orvane Test");
    addName(issuer, "OU", "Certification Services");
    addName(issuer, "CN", "Orvane Test User CA");
    X509_set_pubkey(cert.get(), key.get());
    FUZZ_CHECK(X509_sign(cert.get(), key.get(), EVP_sha256()) > 0);
    Pkcs12Ptr p12(PKCS12_create(kPassword, "user", key.get(), cert.get(), nullptr, 0, 0, 0, 0, 0));
    FUZZ_CHECK(p12 != nullptr);
    unsigned char* der = nullptr;
    const int len = i2d_PKCS12(p12.get(), &der);
    FUZZ_CHECK(len > 0);
    SslBytesPtr derOwner(der);
    FUZZ_CHECK(fuzzsupport::writeFile(scratch->file("user.pfx"), der, static_cast<size_t>(len)));
    auto* c = new cPkcs12();
    FUZZ_CHECK(c->loadPfxFile(scratch->path().c_str(), "user.pfx", kPassword) == 0);
    FUZZ_CHECK(cX509::subjectName(c->getCertificate()) == kSubject);
    FUZZ_CHECK(cX509::issuerName(c->getCertificate()) == kIssuer);
    return c;
}

std::vector<std::string> splitZero(const std::string& input) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t zero = input.find('\0', start);
        parts.push_back(input.substr(start, zero == std::string::npos ? std::string::npos : zero - start));
        if (zero == std::string::npos) break;
        start = zero + 1;
    }
    return parts;
}

bool plain(const std::string& s) {
    return !s.empty() && s.find(',') == std::string::npos && s.find("//") == std::string::npos &&
           s.find('=') == std::string::npos && s.find('/') == std::string::npos && s.find('\0') == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::quietLog();
    cSslInitialise();
    scratch = new fuzzsupport::ScratchDir();
    credential = makeCredential();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> parts = splitZero(fuzzsupport::text(data, size));
    const std::string& filter = parts[0];
    const std::string subject = parts.size() > 1 ? parts[1] : kSubject;
    const std::string issuer = parts.size() > 2 ? parts[2] : kIssuer;

    // Each condition against the given names, and the filter as a whole
    // against the credential: 0 exactly when some condition holds for both
    // of the certificate's own names.
    bool anyHolds = false;
    for (const std::string& condition : cPkcs12::splitConditions(filter)) {
        FUZZ_CHECK(condition.find("//") == std::string::npos);
        (void)credential->checkFilterByCertSubject(condition, subject);
        (void)credential->checkFilterByCertIssuer(condition, issuer);
        if (credential->checkFilterByCertSubject(condition, kSubject) &&
            credential->checkFilterByCertIssuer(condition, kIssuer))
            anyHolds = true;
    }
    const int code = credential->checkSignerFilter(filter.c_str());
    FUZZ_CHECK(code == 0 || code == 5010);
    FUZZ_CHECK((code == 0) == (filter.empty() || anyHolds));

    // The name parsers on the given texts.
    for (const char* key : {"S_C=", "S_O=", "S_OU=", "S_CN=", "I_C=", "I_O=", "I_OU=", "I_CN="}) {
        std::set<std::string> values;
        const std::string first = cPkcs12::parseFilterName(filter, key);
        cPkcs12::parseFilterNames(filter, key, values);
        FUZZ_CHECK(first.find(',') == std::string::npos);
        if (filter.find(key) != std::string::npos) FUZZ_CHECK(values.count(first) == 1);
    }
    std::string c, cn;
    std::set<std::string> o, ou;
    c = cPkcs12::parseCertDistingName(subject, "C=");
    cn = cPkcs12::parseCertDistingName(subject, "CN=");
    cPkcs12::parseCertDistingNames(subject, "O=", o);
    cPkcs12::parseCertDistingNames(subject, "OU=", ou);

    // A condition made of the subject's own values holds for that subject
    // (when the values can be written into a condition at all).
    if (plain(c) && plain(cn)) {
        std::string condition = "S_C=" + c + ",S_CN=" + cn;
        bool writable = true;
        for (const auto& v : o) writable = writable && plain(v), condition += ",S_O=" + v;
        for (const auto& v : ou) writable = writable && plain(v), condition += ",S_OU=" + v;
        if (writable) FUZZ_CHECK(credential->checkFilterByCertSubject(condition, subject));
    }
    return 0;
}
