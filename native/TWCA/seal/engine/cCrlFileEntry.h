// cCrlFileEntry: one certificate revocation list file of a chain: its bytes,
// the parsed CRL, whether its next update lies in the past, and its revoked
// serial numbers (upper-case hex without leading zeros).
#ifndef ORVANE_ENGINE_CCRLFILEENTRY_H
#define ORVANE_ENGINE_CCRLFILEENTRY_H

#include <map>
#include <memory>
#include <string>

#include "cFile.h"
#include "cSslPtr.h"

class cCrlFileEntry {
public:
    cCrlFileEntry(std::string title, std::string dir, std::string fileName);
    virtual ~cCrlFileEntry();
    cCrlFileEntry(const cCrlFileEntry&) = delete;
    cCrlFileEntry& operator=(const cCrlFileEntry&) = delete;

    // Reads the file (fileName as it is when it begins with "/", else joined
    // to dir with "/") and parses it. False only without a file name.
    bool loadCrl();
    // Parses the bytes read as one DER CRL; true when a CRL is held.
    bool parseCrl();

    // The expiry code of a next-update time text at a moment (fourteen-digit
    // texts): expired when now sorts after nextUpdate; an empty nextUpdate
    // (no next update) is expired.
    static bool isExpired(const std::string& now, const std::string& nextUpdate);
    // A serial number in upper-case hex without leading zeros ("0" for zero).
    static std::string serialHex(const ASN1_INTEGER* serial);

    std::string title;
    std::string dir;
    std::string fileName;
    cFile file;
    bool expired = false;
    cSslPtr<X509_CRL, X509_CRL_free> crl;
    // Serial in upper-case hex -> the revoked entry inside `crl` (borrowed).
    std::unique_ptr<std::map<std::string, const X509_REVOKED*>> revoked;
};

#endif
