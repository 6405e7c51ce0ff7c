// The certificate check: a PKCS#12 file loaded and tried the way a signing
// session does it (protected password, TWCASignInitial from a properties file,
// SignPkcs7), with the certificate's facts and the engine's verdicts collected
// for the command to print. No Python here; nothing throws.
#pragma once

#include <string>

#include <openssl/x509.h>

namespace orvane::certcheck {

struct PfxCheck {
    // Engine codes (0 = success). A step that did not run keeps -1.
    int protect = -1;          // MakeTWCASignPasswd
    int load = -1;             // TWCASignInitial
    int validity = -1;         // cPkcs12::checkCertValid
    int key_usage_check = -1;  // cPkcs12::checkKeyUsageForSign
    int sign = -1;             // SignPkcs7 of the probe text
    // Facts of the loaded certificate (empty until load == 0).
    std::string subject;       // one-line names, as the signer filter sees them
    std::string issuer;
    std::string serial;        // upper-case hexadecimal
    std::string not_before;    // "YYYYMMDDhhmmss", UTC
    std::string not_after;
    int key_usage = 0;         // first byte + 256 * second byte; 0 when absent
    bool has_key_usage = false;
    int extra_certificates = 0;
    // The probe signature checked against the file's certificate.
    bool verified = false;
    std::string verify_error;  // OpenSSL's reason when it does not verify
};

// Runs the check. `property_file` configures the engine (its LOG.path and
// LOG.file are set up first, so every line of the check goes to that log);
// `password` and `probe` are zero-terminated.
void run_pfx_check(const char* property_file, const char* password, const char* probe, PfxCheck& out);

// Verifies a base64 PKCS#7 signature with embedded content against `cert`
// alone (the certificates inside the signature are not used) and compares the
// content with `expected`. Returns false with a reason in `error`.
bool verify_probe(const char* signature_b64, const X509* cert, const std::string& expected, std::string& error);

}  // namespace orvane::certcheck
