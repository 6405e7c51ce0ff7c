#include "cSsl.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

#include <openssl/crypto.h>
#include <openssl/provider.h>

#include "cLog.h"

namespace {
OSSL_PROVIDER* legacyProvider = nullptr;
OSSL_PROVIDER* defaultProvider = nullptr;

std::once_flag providersOnce;
std::mutex folderLock;           // guards the two below
std::string packageModuleFolder;
bool providersStarted = false;   // the folder can no longer change
cSslProviders providers;         // written once, inside providersOnce

// Runs before OpenSSL's own clean-up, which was registered earlier.
void unloadProviders() {
    if (legacyProvider != nullptr) OSSL_PROVIDER_unload(legacyProvider);
    if (defaultProvider != nullptr) OSSL_PROVIDER_unload(defaultProvider);
    legacyProvider = defaultProvider = nullptr;
}

bool isFolder(const std::string& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::is_directory(path, error);
}

// Points the default library context at the package's module folder unless
// OPENSSL_MODULES names one (an empty value counts as unset). Done before
// anything can load a provider, the configuration file's included.
void chooseModuleFolder() {
    std::string folder;
    {
        std::lock_guard<std::mutex> hold(folderLock);
        providersStarted = true;
        folder = packageModuleFolder;
    }
    const char* env = std::getenv("OPENSSL_MODULES");
    if (env != nullptr && *env != '\0') {
        providers.moduleFolder = env;
        providers.folderFrom = "OPENSSL_MODULES";
    } else if (isFolder(folder) && OSSL_PROVIDER_set_default_search_path(nullptr, folder.c_str()) == 1) {
        providers.moduleFolder = folder;
        providers.folderFrom = "package";
    } else {
        const char* builtIn = OPENSSL_info(OPENSSL_INFO_MODULES_DIR);
        providers.moduleFolder = builtIn != nullptr ? builtIn : "";
        providers.folderFrom = "OpenSSL";
        // OpenSSL itself would look in "" for an empty OPENSSL_MODULES.
        if (env != nullptr && builtIn != nullptr) OSSL_PROVIDER_set_default_search_path(nullptr, builtIn);
    }
}
}  // namespace

bool cSslUsePackageModules(const char* packageFolder) {
    std::lock_guard<std::mutex> hold(folderLock);
    if (providersStarted) return false;
    packageModuleFolder.clear();
    if (packageFolder != nullptr && *packageFolder != '\0') {
        // Kept absolute: the providers may load after the working folder changed.
        std::error_code error;
        std::filesystem::path folder = std::filesystem::path(packageFolder) / "ossl-modules";
        const std::filesystem::path absolute = std::filesystem::absolute(folder, error);
        packageModuleFolder = (error ? folder : absolute).string();
    }
    return true;
}

void cSslInitialise() {
    std::call_once(providersOnce, [] {
        chooseModuleFolder();
        OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_CIPHERS | OPENSSL_INIT_ADD_ALL_DIGESTS, nullptr);
        // Loading "legacy" explicitly turns off the implicit "default": load
        // both. Either may be missing; the other still serves. They stay
        // loaded until the process ends.
        legacyProvider = OSSL_PROVIDER_load(nullptr, "legacy");
        defaultProvider = OSSL_PROVIDER_load(nullptr, "default");
        providers.legacy = legacyProvider != nullptr;
        providers.defaults = defaultProvider != nullptr;
        std::atexit(unloadProviders);
        ERR_clear_error();
    });
}

const cSslProviders& cSslProviderState() {
    cSslInitialise();
    return providers;
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
