// The BIG5 (Windows code page 950) form of the engine's own messages.
//
// A leaf: it uses nothing of the engine but the platform's code-page
// conversion (cPlatformCodePage.h), so the log and everything below it can
// write BIG5 messages without depending on each other.
#ifndef ORVANE_ENGINE_CBIG5_H
#define ORVANE_ENGINE_CBIG5_H

#include <string>

// The BIG5 bytes of UTF-8 text; characters without a BIG5 form become "?".
// False when the converter cannot be opened or memory runs out.
bool utf8ToBig5(const char* utf8, std::string& big5);

// A BIG5 copy of UTF-8 text that lives until the process ends; never nullptr
// ("" when the conversion fails).
const char* big5Literal(const char* utf8) noexcept;

// The BIG5 text of one BIG5_MSG call site.  Converted when first asked for
// (as a const char*, or by calling it) and then kept: a log line that is not
// written never converts its message (see cLog's level-testing calls).
struct cBig5Text {
    const char* (*text)() noexcept;
    const char* operator()() const noexcept { return text(); }
    operator const char*() const noexcept { return text(); }
};

// BIG5_MSG("中文 message"): the message in BIG5, converted once per call site
// (thread-safe) and kept for the life of the process.  Use for every log
// message that is not plain ASCII.
#define BIG5_MSG(utf8Literal)                                                  \
    (::cBig5Text{[]() noexcept -> const char* {                                \
        static const char* const big5Text_ = ::big5Literal(utf8Literal);       \
        return big5Text_;                                                      \
    }})

#endif
