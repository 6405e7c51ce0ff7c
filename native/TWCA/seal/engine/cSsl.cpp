#include "engine/cSsl.h"

#include <mutex>

#include <openssl/provider.h>

#include "engine/cLog.h"

void cSslInitialise() {
    static std::once_flag once;
    std::call_once(once, [] {
        OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr);
        // Loading "legacy" explicitly turns off the implicit "default": load
        // both. Either may be missing; the other still serves. The providers
        // stay loaded for the life of the process.
        OSSL_PROVIDER_load(nullptr, "legacy");
        OSSL_PROVIDER_load(nullptr, "default");
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
    const bool write = log.isError();
    char text[256];
    unsigned long e;
    while ((e = ERR_get_error()) != 0) {
        if (write) {
            ERR_error_string_n(e, text, sizeof text);
            log.writeText(LOG_TAG_ERROR, "OpenSSL", text);
        }
    }
}
