#include "seal_signer.h"

#include "engine/cLog.h"

namespace seal {

int SealSigner::makePasswd(char* out, int* outLen, const char* propertyFile,
                           const char* plainPasswd) {
    std::lock_guard<std::mutex> hold(lock_);
    return twca_.MakeTWCASignPasswd(out, outLen, propertyFile, plainPasswd);
}

int SealSigner::initial(const char* propertyFile, const char* encedPasswd) {
    std::lock_guard<std::mutex> hold(lock_);
    return twca_.TWCASignInitial(propertyFile, encedPasswd);
}

int SealSigner::sign(const char* text, std::string& signature) {
    std::lock_guard<std::mutex> hold(lock_);
    const int code = twca_.SignPkcs7(text, "BIG5");
    if (code == 0) {
        const char* sig = twca_.getSignature();
        if (sig == nullptr) return twca_.lastError != 0 ? twca_.lastError : 5061;
        signature.assign(sig, static_cast<size_t>(twca_.getSignatureLength()));
    }
    return code;
}

bool SealSigner::initialised() {
    std::lock_guard<std::mutex> hold(lock_);
    return twca_.isInitialised();
}

void logDebugCode(const char* msg, int code) noexcept {
    cLog& log = cLog::instance();
    if (log.isDebug()) log.writeInt(LOG_TAG_DEBUG, msg, code);
}

void logError(const char* msg, const std::string& value) noexcept {
    cLog& log = cLog::instance();
    if (log.isError()) log.writeText(LOG_TAG_ERROR, msg, value);
}

}  // namespace seal
