#include "seal_signer.h"

#include <new>

#include "seal_unlocked.h"

namespace seal {

SealSigner::SealSigner() : forks_seen_(fork_count()) {}

std::recursive_mutex& SealSigner::activation() {
    const unsigned forks = fork_count();
    if (forks != forks_seen_) {
        // The old mutex may be "held" by a thread of the parent; it is left
        // as it is (it owns no resource) and a new one takes its place.
        new (&activation_) std::recursive_mutex();
        forks_seen_ = forks;
    }
    return activation_;
}

int SealSigner::makePasswd(char* out, int* outLen, const char* propertyFile,
                           const char* plainPasswd) {
    return twca_.MakeTWCASignPasswd(out, outLen, propertyFile, plainPasswd);
}

int SealSigner::initial(const char* propertyFile, const char* encedPasswd) {
    return twca_.TWCASignInitial(propertyFile, encedPasswd);
}

int SealSigner::sign(const char* text, std::string& signature) {
    const int code = twca_.SignPkcs7(text, "BIG5", signature);
    // A success always leaves a signature; never hand out an empty one.
    return code == 0 && signature.empty() ? 5061 : code;
}

}  // namespace seal
