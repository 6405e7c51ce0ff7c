// Code-page conversion of the text to be signed, and the BIG5 form of the
// engine's own log messages.
//
// "BIG5" means Windows code page 950 (glibc's "CP950"); encoding names are
// matched without regard to letter case.
#ifndef ORVANE_ENGINE_CCODEPAGE_H
#define ORVANE_ENGINE_CCODEPAGE_H

#include <string>

class cBytes;

// Converts zero-terminated BIG5 text to `toEncoding` ("BIG5" or "UTF-16LE" are
// the ones the signer uses; any iconv name is accepted).  For "BIG5" the text
// is validated and `out` receives it unchanged.  False (and `out` empty) for
// null/empty text, a null `out`, an unknown encoding ("iconv_open() 失敗"), an
// invalid or truncated sequence, or no output.
bool convertUniCodeStringToAny(const char* text, const char* toEncoding, cBytes* out);

// The BIG5 bytes of UTF-8 text; characters without a BIG5 form become "?".
// False when the converter cannot be opened or memory runs out.
bool utf8ToBig5(const char* utf8, std::string& big5);

// A BIG5 copy of UTF-8 text that lives until the process ends; never nullptr
// ("" when the conversion fails).
const char* big5Literal(const char* utf8) noexcept;

// BIG5_MSG("中文 message"): the message in BIG5, converted once per call site
// (thread-safe) and kept for the life of the process.  Use for every log
// message that is not plain ASCII.
#define BIG5_MSG(utf8Literal)                                                  \
    ([]() noexcept -> const char* {                                            \
        static const char* const big5Text_ = ::big5Literal(utf8Literal);       \
        return big5Text_;                                                      \
    }())

#endif
