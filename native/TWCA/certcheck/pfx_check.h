// The certificate check: a PKCS#12 file loaded and tried the way a signing
// session does it (protected password, TWCASignInitial from a properties file,
// SignPkcs7), with the certificate's facts and the engine's verdicts collected
// for the command to print. No Python here; nothing throws.
#ifndef ORVANE_INSPECT_PFX_CHECK_H
#define ORVANE_INSPECT_PFX_CHECK_H

#include <string>

#include <openssl/x509.h>

struct PfxCheck {
    // Engine codes (0 = success). A step that did not run keeps -1.
    int protect = -1;        // MakeTWCASignPasswd
    int load = -1;           // TWCASignInitial
    int validity = -1;       // cPkcs12::checkCertValid
    int keyUsageCheck = -1;  // cPkcs12::checkKeyUsageForSign
    int sign = -1;           // SignPkcs7 of the probe text
    // Facts of the loaded certificate (empty until load == 0).
    std::string subject;     // one-line names, as the signer filter sees them
    std::string issuer;
    std::string serial;      // upper-case hexadecimal
    std::string notBefore;   // "YYYYMMDDhhmmss", UTC
    std::string notAfter;
    int keyUsage = 0;        // first byte + 256 * second byte; 0 when absent
    bool hasKeyUsage = false;
    int extraCertificates = 0;
    // The probe signature checked against the file's certificate.
    bool verified = false;
    std::string verifyError;  // OpenSSL's reason when it does not verify
};

// Runs the check. `propertyFile` configures the engine (its LOG.path and
// LOG.file are set up first, so every line of the check goes to that log);
// `password` and `probe` are zero-terminated.
void runPfxCheck(const char* propertyFile, const char* password, const char* probe, PfxCheck& out);

// Verifies a base64 PKCS#7 signature with embedded content against `cert`
// alone (the certificates inside the signature are not used) and compares the
// content with `expected`. Returns false with a reason in `error`.
bool verifyProbe(const char* signatureB64, const X509* cert, const std::string& expected, std::string& error);

#endif
