#include "cCodePage.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cBig5.h"
#include "cBytes.h"
#include "cChars.h"
#include "cLog.h"

namespace {

// glibc names Windows code page 950 "CP950"; its "BIG5" is the narrower
// original table.
const char* iconvName(const char* encoding) {
    return cChars::equalsIgnoreCase(encoding, "BIG5") ? "CP950" : encoding;
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

}  // namespace

bool convertUniCodeStringToAny(const char* text, const char* toEncoding, cBytes* out) {
    if (text == nullptr || *text == '\0' || out == nullptr) return false;
    out->release();
    cLog& log = cLog::instance();
    const size_t inLength = std::strlen(text);
    if (inLength > static_cast<size_t>(INT_MAX - 102) / 2) return false;

    const bool toBig5 = cChars::equalsIgnoreCase(toEncoding, "BIG5");
    // The validation pass for BIG5 decodes to UTF-16LE: glibc folds a few
    // duplicate code-page 950 codes (A2CC, A2CE, F9E9-F9FD) onto their twins
    // on the way back, and the caller's bytes are what must be signed.
    cIconv conv(toBig5 ? "UTF-16LE" : (toEncoding ? iconvName(toEncoding) : ""), "CP950");
    if (toEncoding == nullptr || !conv.ok()) {
        log.error(BIG5_MSG("iconv_open() 失敗"));
        return false;
    }
    // Two bytes out per byte in covers UTF-16LE and BIG5; a target that needs
    // more runs out of room and the call fails.
    const size_t area = 2 * inLength + 100;
    std::unique_ptr<char, FreeDeleter> buffer(static_cast<char*>(std::calloc(area, 1)));
    if (!buffer) {
        log.error(BIG5_MSG("配置 記憶體 失敗"));
        return false;
    }
    char* inPtr = const_cast<char*>(text);
    size_t inLeft = inLength;
    char* outPtr = buffer.get();
    size_t outLeft = area;
    size_t rc = ::iconv(conv.get(), &inPtr, &inLeft, &outPtr, &outLeft);
    // Ends a shift sequence for targets that keep state.
    if (rc != static_cast<size_t>(-1)) rc = ::iconv(conv.get(), nullptr, nullptr, &outPtr, &outLeft);
    const size_t produced = area - outLeft;
    // Success needs no error, every input byte consumed, some output and a
    // last byte of the area left unused.
    if (rc == static_cast<size_t>(-1) || inLeft != 0 || produced == 0 || outLeft == 0) return false;
    if (toBig5) return out->assign(text, static_cast<int>(inLength));
    return out->assign(buffer.get(), static_cast<int>(produced));
}
