// cPfxAlgorithms: how a PKCS#12 container is protected, read from its outer
// structure (no password needed), and whether this libcrypto, with the
// providers it has loaded, can use each algorithm. The encrypted contents
// and shrouded keys of "legacy" files use the PKCS#12 password-based schemes
// (pbeWithSHA1And...: RC2, RC4, DES, 3DES) instead of PBES2; RC2 and RC4 live
// in OpenSSL's `legacy` provider, so such a file opens only where that
// provider loaded.
#ifndef ORVANE_ENGINE_CPFXALGORITHMS_H
#define ORVANE_ENGINE_CPFXALGORITHMS_H

#include <string>
#include <vector>

#include <openssl/pkcs12.h>

class cPfxAlgorithms {
public:
    struct Algorithm {
        std::string name;       // "pbeWithSHA1And40BitRC2-CBC", "PBES2 AES-256-CBC"
        bool legacy = false;    // a PKCS#12 scheme rather than PBES2
        bool available = true;  // its cipher and digest can be fetched
    };

    // Reads `p12` (null reads as a container without anything).
    explicit cPfxAlgorithms(const PKCS12* p12);

    // The encryption algorithms, in file order, without repeats.
    const std::vector<Algorithm>& encryption() const { return algorithms; }
    // Some encryption algorithm other than PBES2.
    bool legacy() const;
    // The MAC's digest name (empty without MAC), its iteration count, and
    // whether the digest can be fetched.
    const std::string& mac() const { return macName; }
    long macIterations() const { return iterations; }
    bool macAvailable() const { return macUsable; }
    // The algorithms (MAC digest included) that cannot be used here, joined
    // with ", "; empty when every one can.
    std::string unavailable() const;

private:
    void add(const X509_ALGOR* alg);

    std::vector<Algorithm> algorithms;
    std::string macName;
    long iterations = 0;
    bool macUsable = true;
};

#endif
