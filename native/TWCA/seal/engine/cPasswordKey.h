// The key material that protects the PKCS#12 password between
// MakeTWCASignPasswd and TWCASignInitial, and in a properties file's
// PFX.pswdB64 (there with the key's first 16 bytes as IV): AES-256-CBC with
// OpenSSL's padding, base64 of the ciphertext.
#ifndef ORVANE_ENGINE_CPASSWORDKEY_H
#define ORVANE_ENGINE_CPASSWORDKEY_H

// It keeps the password out of plain sight in the properties file and in
// memory dumps of the caller; it is not a secret from anyone holding the code.
inline constexpr unsigned char kTWCAPasswordKey[32] = {
    0x6f, 0x72, 0x76, 0x61, 0x6e, 0x65, 0x2d, 0x73, 0x65, 0x61, 0x6c, 0x2d, 0x9c, 0x3e, 0x51, 0xa7,
    0x24, 0xd8, 0x0b, 0x7f, 0xe2, 0x46, 0x93, 0x1c, 0x5a, 0xb1, 0x08, 0xcd, 0x77, 0x3f, 0xe9, 0x12,
};
// The cipher reads a 32-byte IV block and uses its first 16 bytes.
inline constexpr unsigned char kTWCAPasswordIv[32] = {
    0x3a, 0x91, 0xc4, 0x0e, 0x5d, 0xf7, 0x28, 0x6b, 0xb3, 0x14, 0x87, 0xe0, 0x49, 0x2c, 0xd5, 0x70,
};

#endif
