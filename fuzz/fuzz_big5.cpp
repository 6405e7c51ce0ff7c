// Code-page conversion of the text to be signed: any bytes as BIG5 (code page
// 950) to "BIG5" (the validation pass) and to "UTF-16LE".  Valid text passes
// both; the validation pass returns the input unchanged; the UTF-16LE form has
// an even length and at most two bytes per input byte.
#include <cstdint>
#include <cstring>
#include <string>

#include "cBytes.h"
#include "cBig5.h"
#include "cCodePage.h"
#include "fuzz_support.h"

using fuzzsupport::text;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::quietLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input = text(data, size);
    const size_t length = std::strlen(input.c_str());

    cBytes big5;
    const bool valid = convertUniCodeStringToAny(input.c_str(), "BIG5", &big5);
    FUZZ_CHECK(valid == !big5.isEmpty());
    if (valid) FUZZ_CHECK(big5.toString() == input.substr(0, length));

    cBytes utf16;
    const bool converted = convertUniCodeStringToAny(input.c_str(), "utf-16le", &utf16);
    FUZZ_CHECK(converted == valid);
    if (converted) {
        FUZZ_CHECK(utf16.getLength() % 2 == 0);
        FUZZ_CHECK(static_cast<size_t>(utf16.getLength()) <= 2 * length);
    }

    // The same text into the log's direction (UTF-8 to BIG5) never fails for
    // lack of a form: unknown characters become "?".
    std::string back;
    FUZZ_CHECK(utf8ToBig5(input.c_str(), back));
    return 0;
}
