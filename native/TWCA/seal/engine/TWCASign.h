// TWCASign: the signing facade. Loads the configuration, the user's PKCS#12
// credential and the issuer chains, and turns bytes into base64 DER PKCS#7
// SignedData. Every operation returns 0 or one of the codes of cError.h and
// keeps that code in lastError; none throws.
//
// Calling order: construct; MakeTWCASignPasswd with the user's password;
// TWCASignInitial with the same properties file and the protected password;
// then SignPkcs7 / SignPkcs7Bin any number of times, reading the signature
// after each call that returned 0.
//
// Threads: each operation holds the facade's own lock for its whole length,
// so one facade runs one operation at a time and several facades run in
// parallel. A thread that needs the signature of its own call takes the
// overloads that copy it out under the same lock (getSignature() reads the
// member unlocked: only for a caller that is the facade's sole user).
#ifndef ORVANE_ENGINE_TWCASIGN_H
#define ORVANE_ENGINE_TWCASIGN_H

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include <openssl/x509.h>

class cPkcs12;

class TWCASign {
public:
    TWCASign();
    virtual ~TWCASign();

    TWCASign(const TWCASign&) = delete;
    TWCASign& operator=(const TWCASign&) = delete;

    // The protected form of plainPfxPasswd (base64 of its AES-256-CBC
    // ciphertext) for TWCASignInitial. `outLen` holds the capacity of `out`
    // on entry and the length of the text on return. With `out` null only the
    // length is reported (result 0). When the capacity is too small the result
    // is 5003 and `out` is left zeroed. The text is zero-terminated only when
    // the capacity exceeds its length. A null `outLen` gives 5005.
    int MakeTWCASignPasswd(char* out, int* outLen, const char* propertyFile,
                           const char* plainPfxPasswd);

    // Reads the properties file, sets up the log and the process-wide chain
    // store, and loads the PKCS#12 credential. The password comes from
    // encedPfxPasswd (output of MakeTWCASignPasswd) when it is neither null
    // nor empty, else from PFX.pswd, else from PFX.pswdB64. A failed load
    // keeps the credential of an earlier successful call.
    int TWCASignInitial(const char* propertyFile, const char* encedPfxPasswd);

    // Signs the zero-terminated BIG5 text `plain` after converting it to
    // `encoding` ("BIG5" or "UTF-16LE", any letter case).
    int SignPkcs7(const char* plain, const char* encoding);
    // The same, and on success the signature is copied into `signatureOut`
    // before the facade's lock is released (left empty on failure).
    int SignPkcs7(const char* plain, const char* encoding, std::string& signatureOut);

    // Signs `datalen` bytes of `data`.
    int SignPkcs7Bin(const unsigned char* data, int datalen);
    int SignPkcs7Bin(const unsigned char* data, int datalen, std::string& signatureOut);

    // Base64 text of the last signature, or nullptr when the last signing
    // call failed or none was made. Valid until the next call on this object;
    // read without the lock.
    const char* getSignature() const { return signature.empty() ? nullptr : signature.c_str(); }
    int getSignatureLength() const { return static_cast<int>(signature.size()); }
    // Read without waiting for an operation in progress.
    bool isInitialised() const { return initialised.load(); }
    int getLastError() const {
        std::lock_guard<std::mutex> hold(operation);
        return lastError;
    }

    // The configuration in effect (copied under the lock). Empty strings
    // stand for "no value".
    struct Settings {
        std::string digest;        // PKCS7.digest
        std::string signerFilter;  // PFX.signerFilter
        int addCert;               // PKCS7.addCert
        bool addTimestamp;         // PKCS7.addTimestamp
        bool addPlainText;         // PKCS7.addPlainText
        bool checkValidity;        // PFX.checkValid: checkCertValid before signing
        bool checkKeyUsage;        // checkKeyUsageForSign before signing
    };
    Settings getSettings() const;
    // The key-usage check before signing is off unless turned on here; no
    // properties key turns it on.
    void setCheckKeyUsage(bool on);

    // Runs read(credential) under the facade's lock and returns its result.
    // `credential` is the loaded cPkcs12 (const), or nullptr before a
    // successful TWCASignInitial; it may be replaced by the next
    // initialisation, so read keeps nothing of it beyond the call. What read
    // throws passes through.
    template <class Read>
    auto withCredential(Read&& read) const {
        std::lock_guard<std::mutex> hold(operation);
        return read(static_cast<const cPkcs12*>(credential.get()));
    }
    // The certificate of the last successful signature (owned by the
    // credential), or nullptr; under the same rule as withCredential's.
    const X509* getSigningCertificate() const;

private:
    // State, in the order of the facade's data model (the settings as
    // described at Settings). Written only under `operation`.
    std::atomic<bool> initialised{false};
    std::string digest;
    std::string signerFilter;
    int addCert = 1;
    bool addTimestamp = false;
    bool addPlainText = true;
    std::unique_ptr<cPkcs12> credential;
    bool checkValidity = false;
    bool checkKeyUsage = false;
    const X509* signingCertificate = nullptr;  // borrowed from credential
    std::string signature;                     // base64 of the last signature
    int lastError = 0;

    // Held by every operation for its whole length.
    mutable std::mutex operation;

    int signPkcs7Locked(const char* plain, const char* encoding);
    int signPkcs7BinLocked(const unsigned char* data, int datalen);
    // On success copies `signature` into signatureOut (a failed copy is 5002).
    int copySignature(int code, std::string& signatureOut);
    int makePassword(char* out, int* outLen, const char* propertyFile, const char* plainPfxPasswd);
    int initialise(const char* propertyFile, const char* encedPfxPasswd);
    int signText(const char* plain, const char* encoding);
    int signBytes(const unsigned char* data, int datalen);
    int finish(int code) { lastError = code; return code; }
};

#endif
