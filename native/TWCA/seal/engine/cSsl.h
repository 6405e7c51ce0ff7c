// OpenSSL set-up of the signing engine: the once-per-process provider set-up,
// and the guard that keeps OpenSSL's error queue from leaking stale errors
// across calls (the owners of libcrypto objects are in cSslPtr.h).
#ifndef ORVANE_ENGINE_CSSL_H
#define ORVANE_ENGINE_CSSL_H

#include <string>

#include <openssl/err.h>

// Names the folder of the program's own files (a wheel's extension modules):
// when it holds the folder "ossl-modules" (a wheel carries OpenSSL's `legacy`
// module there), the providers are looked for in that folder at the first
// cSslInitialise() of the process, provided the OPENSSL_MODULES variable is
// not set (it still wins; an empty value counts as unset). Otherwise
// OpenSSL's own default folder is used. Returns false, and changes nothing,
// once the providers are loaded.
bool cSslUsePackageModules(const char* packageFolder);

// Loads the `legacy` (RC2-40, 3DES PKCS#12 files) and `default` providers,
// when present, and registers ciphers and digests. Runs once per process.
void cSslInitialise();

// What cSslInitialise() found, for messages and the certificate check.
struct cSslProviders {
    bool legacy = false;     // the `legacy` provider is loaded
    bool defaults = false;   // the `default` provider is loaded
    // Where the modules were looked for: the package's "ossl-modules",
    // OPENSSL_MODULES, or OpenSSL's built-in folder.
    std::string moduleFolder;
    const char* folderFrom = "";  // "package", "OPENSSL_MODULES" or "OpenSSL"
};
// Initialises first when needed.
const cSslProviders& cSslProviderState();

// Text of the first error in OpenSSL's queue (empty when none); the queue is
// left as it is.
const char* cSslFirstErrorText();

// Clears OpenSSL's error queue when it goes out of scope. Created at the
// entry of every engine operation that calls libcrypto; drain() writes the
// queue into the log as ERROR lines on failure.
class cSslErrorGuard {
public:
    cSslErrorGuard() = default;
    ~cSslErrorGuard();
    cSslErrorGuard(const cSslErrorGuard&) = delete;
    cSslErrorGuard& operator=(const cSslErrorGuard&) = delete;

    // Writes every queued OpenSSL error to the log and empties the queue.
    static void drain();
};

#endif
