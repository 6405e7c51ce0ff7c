// SealSigner: one signing facade (TWCASign) as the Python layer drives it.
//
// Each call locks the facade for its whole duration, and a signature is
// copied out of the facade into memory the caller owns before the lock is
// released. Today every call runs under the interpreter lock, so the mutex is
// never contended; it is what lets the interpreter lock be released around
// the engine work without two threads meeting inside one facade.
#pragma once

#include <mutex>
#include <string>

#include "engine/TWCASign.h"

namespace seal {

class SealSigner {
public:
    SealSigner() = default;
    SealSigner(const SealSigner&) = delete;
    SealSigner& operator=(const SealSigner&) = delete;

    int makePasswd(char* out, int* outLen, const char* propertyFile, const char* plainPasswd);
    int initial(const char* propertyFile, const char* encedPasswd);
    // Signs the zero-terminated text with the code page "BIG5"; on success the
    // base64 signature is copied into `signature`.
    int sign(const char* text, std::string& signature);
    bool initialised();

private:
    std::mutex lock_;
    TWCASign twca_;
};

// DEBUG line "<msg> = 0x%08X(%d)" through the signing log, when DEBUG lines
// are written.
void logDebugCode(const char* msg, int code) noexcept;
// ERROR line "<msg> = <value>" (both BIG5) when ERROR lines are written.
void logError(const char* msg, const std::string& value) noexcept;

}  // namespace seal
