#include "cAesCipher.h"

#include <climits>
#include <cstring>
#include <vector>

#include "cSsl.h"
#include "cSslPtr.h"

cAesCipher::~cAesCipher() { clear(); }

void cAesCipher::clear() {
    OPENSSL_cleanse(key, sizeof key);
    OPENSSL_cleanse(iv, sizeof iv);
    keyBits = -1;
    mode = ModeNone;
}

bool cAesCipher::setKey(const unsigned char* newKey, const unsigned char* newIv) {
    clear();
    if (newKey == nullptr) return false;
    keyBits = 256;
    mode = ModeCbc;
    std::memcpy(key, newKey, sizeof key);
    if (newIv != nullptr) std::memcpy(iv, newIv, sizeof iv);
    return true;
}

int cAesCipher::encrypt(const unsigned char* in, int inLen, unsigned char* out, int& outLen) {
    return run(true, in, inLen, out, outLen);
}

int cAesCipher::decrypt(const unsigned char* in, int inLen, unsigned char* out, int& outLen) {
    return run(false, in, inLen, out, outLen);
}

int cAesCipher::run(bool encrypting, const unsigned char* in, int inLen, unsigned char* out, int& outLen) {
    if (keyBits != 256 || mode != ModeCbc || in == nullptr || inLen < 1 || inLen > INT_MAX - 256) return -1;
    cSslErrorGuard guard;
    cSslPtr<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free> ctx(EVP_CIPHER_CTX_new());
    if (!ctx) return -1;
    // The work area holds plain text in one of the two directions: wiped below.
    std::vector<unsigned char> work(static_cast<size_t>(inLen) + 256, 0);
    int produced = -1;
    int n1 = 0, n2 = 0;
    bool ok = EVP_CipherInit_ex(ctx.get(), EVP_aes_256_cbc(), nullptr, key, iv, encrypting ? 1 : 0) == 1 &&
              EVP_CipherUpdate(ctx.get(), work.data(), &n1, in, inLen) == 1 &&
              EVP_CipherFinal_ex(ctx.get(), work.data() + n1, &n2) == 1;
    if (ok) {
        produced = n1 + n2;
        if (out != nullptr && outLen >= produced) {
            std::memcpy(out, work.data(), static_cast<size_t>(produced));
            outLen = produced;
            produced = 0;
        }
    }
    OPENSSL_cleanse(work.data(), work.size());
    return produced;
}
