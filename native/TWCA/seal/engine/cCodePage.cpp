#include "cCodePage.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cBig5.h"
#include "cBytes.h"
#include "cChars.h"
#include "cLog.h"
#include "cPlatformCodePage.h"

namespace {

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
    // Two bytes out per byte in covers UTF-16LE and BIG5; a target that needs
    // more runs out of room and the call fails.
    const size_t area = 2 * inLength + 100;
    std::unique_ptr<char, FreeDeleter> buffer(static_cast<char*>(std::calloc(area, 1)));
    if (!buffer) {
        log.error(BIG5_MSG("配置 記憶體 失敗"));
        return false;
    }
    // The validation pass for BIG5 decodes to UTF-16LE: glibc folds a few
    // duplicate code-page 950 codes (A2CC, A2CE, F9E9-F9FD) onto their twins
    // on the way back, and the caller's bytes are what must be signed.
    size_t produced = 0;
    const cTranscodeResult result =
        toEncoding == nullptr ? cTranscodeResult::NoConverter
                              : cTranscode(toBig5 ? "UTF-16LE" : toEncoding, "BIG5", text, inLength, buffer.get(),
                                           area, produced);
    if (result == cTranscodeResult::NoConverter) {
        log.error(BIG5_MSG("iconv_open() 失敗"));
        return false;
    }
    // Success needs no error, every input byte consumed, some output and a
    // last byte of the area left unused.
    if (result != cTranscodeResult::Ok || produced == 0 || produced == area) return false;
    if (toBig5) return out->assign(text, static_cast<int>(inLength));
    return out->assign(buffer.get(), static_cast<int>(produced));
}
