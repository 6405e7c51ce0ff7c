// Owned byte buffer; base64 decoding.
#ifndef ORVANE_ENGINE_CBYTES_H
#define ORVANE_ENGINE_CBYTES_H

#include "cBuffer.h"

class cBytes : public cBuffer {
public:
    cBytes() = default;
    virtual ~cBytes();
    cBytes(cBytes&&) noexcept = default;
    cBytes& operator=(cBytes&&) noexcept = default;

    // Decodes base64 text, optionally inside PEM-style armour ("-----BEGIN
    // ...-----" / "-----END ...-----").  Spaces, CR and LF between symbols are
    // skipped; a byte outside the alphabet is not rejected (it counts as the
    // symbol of value 1); "=" ends only its own group of four.  True when at
    // least one byte was decoded.  Unbalanced armour writes an ERROR line.
    bool base64Decode(const char* text);
};

#endif
