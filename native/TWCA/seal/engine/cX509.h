// An owned certificate copy and the text renderings of its fields that the
// engine logs and compares.  The static renderers take a borrowed certificate,
// so callers holding an X509* need no copy.  Nothing here throws; a null
// certificate renders as "" (or an empty list).
#ifndef ORVANE_ENGINE_CX509_H
#define ORVANE_ENGINE_CX509_H

#include <string>
#include <vector>

#include <openssl/asn1.h>
#include <openssl/x509.h>

#include "cSslPtr.h"

class cX509 {
public:
    // Keeps its own copy (X509_dup) of `cert`; get() is nullptr when `cert` is
    // null or the copy failed.
    explicit cX509(const X509* cert);
    virtual ~cX509();
    cX509(const cX509&) = delete;
    cX509& operator=(const cX509&) = delete;

    X509* get() const { return certificate.get(); }   // borrowed, owned by this object

    std::string getIssuerName() const { return issuerName(get()); }
    std::string getSubjectName() const { return subjectName(get()); }
    std::string getSubjectCN() const { return subjectCN(get()); }
    std::string getIssuerCN() const { return issuerCN(get()); }
    std::string getSKI() const { return subjectKeyId(get()); }
    std::string getAKI() const { return authorityKeyId(get()); }
    std::vector<std::string> getCrlDistributionPoints() const { return crlDistributionPoints(get()); }
    std::string getThumbprint() const { return thumbprint(get()); }
    std::string getNotBefore() const { return notBefore(get()); }
    std::string getNotAfter() const { return notAfter(get()); }

    // One-line distinguished names, "/C=TW/O=.../CN=...", at most 511 bytes.
    static std::string issuerName(const X509* cert);
    static std::string subjectName(const X509* cert);
    static std::string nameOneLine(const X509_NAME* name);
    // Bytes of the first commonName entry; "" when there is none.
    static std::string subjectCN(const X509* cert);
    static std::string issuerCN(const X509* cert);
    static std::string commonName(const X509_NAME* name);
    // Upper-case hex of the subject key identifier extension; "" when absent.
    static std::string subjectKeyId(const X509* cert);
    // Upper-case hex of the keyIdentifier of the authority key identifier; "".
    static std::string authorityKeyId(const X509* cert);
    // Every full name and relative-name entry of every distribution point.
    static std::vector<std::string> crlDistributionPoints(const X509* cert);
    // SHA-1 of the DER encoding, 40 upper-case hex digits.
    static std::string thumbprint(const X509* cert);
    static std::string notBefore(const X509* cert);
    static std::string notAfter(const X509* cert);
    // "YYYYMMDDhhmmss" of a UTCTime (two-digit years below 70 are 20xx) or a
    // GeneralizedTime, as written (no time-zone conversion); another type gives
    // "00000000000000"; null or too short gives "".
    static std::string timeText(const ASN1_TIME* time);
    // The current UTC time in the same form, to compare with timeText (both
    // UTC, compared as text).
    static std::string currentTimeText();

private:
    X509Ptr certificate;
};

#endif
