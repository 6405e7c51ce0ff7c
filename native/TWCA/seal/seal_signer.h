// SealSigner: one signing facade (TWCASign) as the Python layer drives it.
//
// The facade locks itself for each operation and hands a signature out under
// the same lock that produced it, so these calls may run without the
// interpreter lock (see seal_unlocked.h) from any number of threads.
#pragma once

#include <mutex>
#include <string>

#include "TWCASign.h"

namespace orvane::seal {

class SealSigner {
public:
    SealSigner();
    SealSigner(const SealSigner&) = delete;
    SealSigner& operator=(const SealSigner&) = delete;

    int make_passwd(char* out, int* out_len, const char* property_file, const char* plain_passwd);
    int initial(const char* property_file, const char* enced_passwd);
    // Signs the zero-terminated text with the code page "BIG5"; on success the
    // base64 signature is copied into `signature`.
    int sign(const char* text, std::string& signature);
    bool initialised() const { return twca_.isInitialised(); }

    // Serialises the activations of one session: each writes, hands to the
    // engine and removes the same properties file. Called with the
    // interpreter lock held. In a child made by fork() while another thread
    // activated this session, the mutex would stay held by a thread the child
    // does not have: the first call in each new process replaces it.
    std::recursive_mutex& activation();

private:
    TWCASign twca_;
    std::recursive_mutex activation_;
    unsigned forks_seen_;   // fork_count() when activation_ was made
};

}  // namespace orvane::seal
