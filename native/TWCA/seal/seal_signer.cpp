#include "seal_signer.h"

#include <new>

#include "seal_unlocked.h"

namespace orvane::seal {

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

int SealSigner::make_passwd(char* out, int* out_len, const char* property_file, const char* plain_passwd) {
    return twca_.MakeTWCASignPasswd(out, out_len, property_file, plain_passwd);
}

int SealSigner::initial(const char* property_file, const char* enced_passwd) {
    return twca_.TWCASignInitial(property_file, enced_passwd);
}

int SealSigner::sign(const char* text, std::string& signature) {
    const int code = twca_.SignPkcs7(text, "BIG5", signature);
    // A success always leaves a signature; never hand out an empty one.
    return code == 0 && signature.empty() ? 5061 : code;
}

}  // namespace orvane::seal
