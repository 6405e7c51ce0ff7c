// cPkcs12: the user's PKCS#12 credential (private key, certificate and the
// further certificates the file carries) and the checks the signer runs before
// signing: validity period, key usage, and the signer filter.
//
// The signer filter is a list of conditions, each between two "//" markers
// (text before the first and after the last marker is ignored). A condition
// is a ","-separated list of key=value items over the subject (S_C, S_O, S_OU,
// S_CN) and the issuer (I_C, I_O, I_OU, I_CN). C keys compare by equality, O
// and OU keys require every value among the name's values, S_CN by
// containment, I_CN by equality. The filter holds when one condition holds.
#ifndef ORVANE_ENGINE_CPKCS12_H
#define ORVANE_ENGINE_CPKCS12_H

#include <set>
#include <vector>
#include <string>

#include "cSslPtr.h"

class cPkcs12 {
public:
    cPkcs12() = default;
    virtual ~cPkcs12();
    cPkcs12(const cPkcs12&) = delete;
    cPkcs12& operator=(const cPkcs12&) = delete;

    // Loads filePath + "/" + fileName with the password. 0, 5005 (argument
    // missing or empty), 1102 (file missing, unreadable, not PKCS#12, or
    // holding no key and certificate), 5209 (the MAC's digest, or after a
    // good MAC the encryption, needs an algorithm the loaded providers lack:
    // a legacy file without OpenSSL's legacy provider) or 5208 (any other
    // MAC or parse failure: in practice a wrong password).
    int loadPfxFile(const char* filePath, const char* fileName, const char* pfxPasswd);

    // 0 inside the validity period (both ends inclusive, UTC), 5012 before it,
    // 5011 after it, 5010 without certificate.
    int checkCertValid() const;
    // 0 when key usage allows digitalSignature or nonRepudiation, else 5017;
    // 5010 without certificate.
    int checkKeyUsageForSign() const;
    // 0 when the filter is null or empty or one of its conditions holds;
    // 5010 otherwise or without certificate.
    int checkSignerFilter(const char* signerFilter) const;

    bool checkFilterByCertSubject(const std::string& condition, const std::string& subjectName) const;
    bool checkFilterByCertIssuer(const std::string& condition, const std::string& issuerName) const;

    static std::string parseFilterName(const std::string& condition, const char* key);
    static void parseFilterNames(const std::string& condition, const char* key, std::set<std::string>& values);
    static std::string parseCertDistingName(const std::string& name, const char* key);
    static void parseCertDistingNames(const std::string& name, const char* key, std::set<std::string>& values);

    // The conditions of a filter, in order of appearance.
    static std::vector<std::string> splitConditions(const std::string& filter);
    // The validity code for a moment and a period, all as fourteen-digit time
    // texts compared on their first 14 bytes: 0, 5012 (before) or 5011 (after).
    static int validityCode(const std::string& now, const std::string& notBefore, const std::string& notAfter);
    // The key-usage value of a certificate: first byte of the extension plus
    // 256 times the second; 0 without the extension.
    static int keyUsageValue(const X509* cert);

    const X509* getCertificate() const { return certificate.get(); }
    EVP_PKEY* getPrivateKey() const { return privateKey.get(); }
    // The further certificates of the file (may be empty or null).
    const STACK_OF(X509)* getExtraCertificates() const { return extraCertificates.get(); }
    int countExtraCertificates() const;

private:
    void release();

    Pkcs12Ptr container;
    EvpPkeyPtr privateKey;
    X509Ptr certificate;
    cSslPtr<STACK_OF(X509), cSslFreeX509Stack> extraCertificates;
};

#endif
