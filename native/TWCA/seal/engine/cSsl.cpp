#include "cSsl.h"

#include <cstdlib>
#include <mutex>

#include <openssl/provider.h>

#include "cLog.h"

namespace {
OSSL_PROVIDER* legacyProvider = nullptr;
OSSL_PROVIDER* defaultProvider = nullptr;

// Runs before OpenSSL's own clean-up, which was registered earlier.
void unloadProviders() {
    if (legacyProvider != nullptr) OSSL_PROVIDER_unload(legacyProvider);
    if (defaultProvider != nullptr) OSSL_PROVIDER_unload(defaultProvider);
    legacyProvider = defaultProvider = nullptr;
}
}  // namespace

void cSslInitialise() {
    static std::once_flag once;
    std::call_once(once, [] {
        OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr);
        // Loading "legacy" explicitly turns off the implicit "default": load
        // both. Either may be missing; the other still serves. They stay
        // loaded until the process ends.
        legacyProvider = OSSL_PROVIDER_load(nullptr, "legacy");
        defaultProvider = OSSL_PROVIDER_load(nullptr, "default");
        std::atexit(unloadProviders);
        ERR_clear_error();
    });
}

const char* cSslFirstErrorText() {
    unsigned long e = ERR_peek_error();
    if (e == 0) return "";
    const char* reason = ERR_reason_error_string(e);
    return reason != nullptr ? reason : "unknown OpenSSL error";
}

cSslErrorGuard::~cSslErrorGuard() { ERR_clear_error(); }

void cSslErrorGuard::drain() {
    cLog& log = cLog::instance();
    char text[256];
    unsigned long e;
    while ((e = ERR_get_error()) != 0) {
        log.error("OpenSSL", [&] {
            ERR_error_string_n(e, text, sizeof text);
            return text;
        });
    }
}
