// cAesCipher: AES-256 in CBC mode with OpenSSL's padding, used to protect the
// PKCS#12 password that travels between MakeTWCASignPasswd and
// TWCASignInitial. Key material is wiped when replaced and on destruction.
#ifndef ORVANE_ENGINE_CAESCIPHER_H
#define ORVANE_ENGINE_CAESCIPHER_H

class cAesCipher {
public:
    enum Mode { ModeNone = -1, ModeCbc = 1 };

    cAesCipher() = default;
    virtual ~cAesCipher();
    cAesCipher(const cAesCipher&) = delete;
    cAesCipher& operator=(const cAesCipher&) = delete;

    // Takes 32 bytes of key and, when iv is not null, 32 bytes of iv (the
    // cipher uses the first 16). A null key fails and leaves no key set.
    bool setKey(const unsigned char* key, const unsigned char* iv);

    // Runs the cipher over inLen bytes of in. outLen holds the capacity of
    // out on entry. When out is not null and large enough the result is
    // copied, outLen set to its length and 0 returned; otherwise the produced
    // length is returned and nothing copied. -1 on any failure (no key, no
    // input, cipher error).
    int encrypt(const unsigned char* in, int inLen, unsigned char* out, int& outLen);
    int decrypt(const unsigned char* in, int inLen, unsigned char* out, int& outLen);

    int keyBits = -1;
    int mode = ModeNone;
    unsigned char key[32] = {};
    unsigned char iv[32] = {};

private:
    int run(bool encrypting, const unsigned char* in, int inLen, unsigned char* out, int& outLen);
    void clear();
};

#endif
