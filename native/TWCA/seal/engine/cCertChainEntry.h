// cCertChainEntry: one certificate-authority chain read from a ".p7b" file.
// Its certificates serve as trust anchors to verify each other; the root and
// CA certificates that verify are kept by their SKI for building the issuer
// chain of a signing certificate. The chain's CRL files ride along.
#ifndef ORVANE_ENGINE_CCERTCHAINENTRY_H
#define ORVANE_ENGINE_CCERTCHAINENTRY_H

#include <map>
#include <memory>
#include <set>
#include <string>

#include "cCrlList.h"
#include "cSslPtr.h"
#include "cX509.h"

class cProperty;

class cCertChainEntry {
public:
    // Copies signedData, verifies the chain and loads its CRL files; `valid`
    // tells whether both succeeded.
    cCertChainEntry(std::string name, std::string ski, const PKCS7* signedData, const cProperty* props);
    virtual ~cCertChainEntry();
    cCertChainEntry(const cCertChainEntry&) = delete;
    cCertChainEntry& operator=(const cCertChainEntry&) = delete;

    // True when the chain holds a self-issued certificate and every root and
    // CA certificate verifies against the chain's own certificates.
    bool selfVerify();
    // 0 verified, -1 not verified (no store, issuer not in this chain, no
    // context), a positive OpenSSL verification error otherwise.
    int verifyCert(X509* cert);
    // Adds the files of the keys "<name>.crlFile0" to "<name>.crlFile4".
    bool loadCrlList(const cProperty* props);

    // The certificates of signedData (borrowed), or null.
    const STACK_OF(X509)* certificates() const;

    bool valid = false;
    std::string name;
    std::string ski;
    Pkcs7Ptr signedData;
    X509StorePtr x509Store;
    std::set<std::string> subjects;
    std::map<std::string, std::unique_ptr<cX509>> issuersBySki;
    std::unique_ptr<cCrlList> crls;
};

#endif
