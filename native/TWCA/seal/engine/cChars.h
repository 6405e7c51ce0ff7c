// Owned text buffer; base64 and hexadecimal encoding, case-insensitive compare.
#ifndef ORVANE_ENGINE_CCHARS_H
#define ORVANE_ENGINE_CCHARS_H

#include "cBuffer.h"

class cChars : public cBuffer {
public:
    cChars() = default;
    virtual ~cChars();
    cChars(cChars&&) noexcept = default;
    cChars& operator=(cChars&&) noexcept = default;

    // Standard base64 with "=" padding and no line breaks.  False for null
    // bytes or count < 1.
    bool base64Encode(const void* bytes, int count);
    // Two upper-case hexadecimal digits per byte.  False for null or count < 1.
    bool hexEncode(const void* bytes, int count);

    // ASCII letters compared without regard to case; false when either is null
    // or the lengths differ; two empty texts are equal.
    static bool equalsIgnoreCase(const char* a, const char* b);
};

#endif
