#include "cChars.h"

#include <climits>
#include <cstddef>

namespace {

const char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kHexDigits[] = "0123456789ABCDEF";

unsigned char upperAscii(unsigned char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

}  // namespace

cChars::~cChars() = default;

bool cChars::base64Encode(const void* bytes, int count) {
    release();
    if (bytes == nullptr || count < 1) return false;
    const size_t groups = (static_cast<size_t>(count) + 2) / 3;
    const size_t textLength = groups * 4;
    if (textLength > static_cast<size_t>(INT_MAX) - 10) return false;
    // Room for 4 * (count / 3) + 10 bytes, as the text always fits in it.
    if (!allocate(static_cast<int>((static_cast<size_t>(count) / 3) * 4 + 8))) return false;
    const unsigned char* in = static_cast<const unsigned char*>(bytes);
    char* out = reinterpret_cast<char*>(getData());
    size_t o = 0;
    size_t i = 0;
    const size_t n = static_cast<size_t>(count);
    for (; i + 3 <= n; i += 3) {
        const unsigned v = (unsigned(in[i]) << 16) | (unsigned(in[i + 1]) << 8) | in[i + 2];
        out[o++] = kBase64Alphabet[(v >> 18) & 63];
        out[o++] = kBase64Alphabet[(v >> 12) & 63];
        out[o++] = kBase64Alphabet[(v >> 6) & 63];
        out[o++] = kBase64Alphabet[v & 63];
    }
    if (i < n) {
        const unsigned v = (unsigned(in[i]) << 16) | (i + 1 < n ? unsigned(in[i + 1]) << 8 : 0u);
        out[o++] = kBase64Alphabet[(v >> 18) & 63];
        out[o++] = kBase64Alphabet[(v >> 12) & 63];
        out[o++] = i + 1 < n ? kBase64Alphabet[(v >> 6) & 63] : '=';
        out[o++] = '=';
    }
    return setLength(static_cast<int>(o));
}

bool cChars::hexEncode(const void* bytes, int count) {
    release();
    if (bytes == nullptr || count < 1 || count > (INT_MAX - 2) / 2) return false;
    if (!allocate(count * 2)) return false;
    const unsigned char* in = static_cast<const unsigned char*>(bytes);
    char* out = reinterpret_cast<char*>(getData());
    for (int i = 0; i < count; ++i) {
        out[2 * i] = kHexDigits[in[i] >> 4];
        out[2 * i + 1] = kHexDigits[in[i] & 15];
    }
    return setLength(count * 2);
}

bool cChars::equalsIgnoreCase(const char* a, const char* b) {
    if (a == nullptr || b == nullptr) return false;
    const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
    for (;; ++x, ++y) {
        if (*x == '\0' || *y == '\0') return *x == *y;
        if (upperAscii(*x) != upperAscii(*y)) return false;
    }
}
