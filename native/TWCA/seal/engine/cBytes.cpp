#include "cBytes.h"

#include <cstring>
#include <string>

#include "cBig5.h"
#include "cLog.h"

namespace {

// Index of a base64 symbol: its place in the alphabet, "=" 64, anything else 65.
struct SymbolTable {
    unsigned char index[256];
    SymbolTable() {
        static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
        std::memset(index, 65, sizeof index);
        for (unsigned char i = 0; i < 65; ++i) index[static_cast<unsigned char>(alphabet[i])] = i;
    }
};

const SymbolTable& symbols() {
    static const SymbolTable table;
    return table;
}

bool isSkipped(char c) {
    return c == ' ' || c == '\r' || c == '\n';
}

// Finds the base64 body inside PEM-style armour.  False when a marker is
// unbalanced (the ERROR line is written here).
bool findArmouredBody(const char* text, size_t size, const char*& body, size_t& bodySize) {
    const char* end = text + size;
    const char* p = text;
    while (p < end && *p == '-') ++p;
    const char* open = std::strstr(p, "-----");
    if (open == nullptr) {
        cLog& log = cLog::instance();
        log.error(BIG5_MSG("cBytes::base64Decode() ----- BEGIN 不對稱"));
        return false;
    }
    p = open;
    while (p < end && (*p == '-' || *p == '\r' || *p == '\n')) ++p;
    const char* close = std::strstr(p, "-----");
    if (close == nullptr) {
        cLog& log = cLog::instance();
        log.error(BIG5_MSG("cBytes::base64Decode() ----- END 不對稱"));
        return false;
    }
    body = p;
    bodySize = static_cast<size_t>(close - p);
    return true;
}

}  // namespace

cBytes::~cBytes() = default;

bool cBytes::base64Decode(const char* text) {
    release();
    if (text == nullptr || *text == '\0') return false;
    const size_t size = std::strlen(text);
    const char* body = text;
    size_t bodySize = size;
    if (std::strstr(text, "-----") != nullptr && !findArmouredBody(text, size, body, bodySize)) return false;

    // Each group of four takes at least one symbol and gives at most three bytes.
    const size_t maxBytes = bodySize * 3;
    if (maxBytes > static_cast<size_t>(0x7FFFFFF0)) return false;
    if (!allocate(static_cast<int>(maxBytes))) return false;
    unsigned char* out = getData();
    const SymbolTable& table = symbols();
    size_t pos = 0;
    size_t produced = 0;
    for (;;) {
        while (pos < bodySize && isSkipped(body[pos])) ++pos;
        if (pos >= bodySize) break;
        unsigned idx[4];
        for (int k = 0; k < 4; ++k) {
            while (pos < bodySize && isSkipped(body[pos])) ++pos;
            idx[k] = pos < bodySize ? table.index[static_cast<unsigned char>(body[pos++])] : 64u;
        }
        const unsigned v0 = idx[0] % 64, v1 = idx[1] % 64, v2 = idx[2] % 64, v3 = idx[3] % 64;
        out[produced++] = static_cast<unsigned char>(v0 * 4 + v1 / 16);
        if (idx[2] != 64) out[produced++] = static_cast<unsigned char>((v1 % 16) * 16 + v2 / 4);
        if (idx[3] != 64) out[produced++] = static_cast<unsigned char>((v2 % 4) * 64 + v3);
    }
    if (produced == 0) {
        release();
        return false;
    }
    return setLength(static_cast<int>(produced));
}
