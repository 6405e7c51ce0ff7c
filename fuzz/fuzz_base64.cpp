// Base64 decoding of any text (with or without PEM-style armour), and the
// round trip: whatever is encoded decodes to the same bytes.
#include <cstdint>
#include <cstring>
#include <string>

#include "cBytes.h"
#include "cChars.h"
#include "fuzz_support.h"

using fuzzsupport::text;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::quietLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input = text(data, size);
    cBytes decoded;
    const bool ok = decoded.base64Decode(input.c_str());
    FUZZ_CHECK(ok == !decoded.isEmpty());
    if (ok) {
        // At most three bytes for every symbol group of the text, and the
        // buffer's promised two zero bytes after the content.
        FUZZ_CHECK(static_cast<size_t>(decoded.getLength()) <= std::strlen(input.c_str()) * 3 / 4 + 3);
        FUZZ_CHECK(decoded.getData()[decoded.getLength()] == 0 && decoded.getData()[decoded.getLength() + 1] == 0);
    }

    // Round trip of the raw bytes.
    if (size > 0) {
        cChars encoded;
        FUZZ_CHECK(encoded.base64Encode(data, static_cast<int>(size)));
        FUZZ_CHECK(static_cast<size_t>(encoded.getLength()) == (size + 2) / 3 * 4);
        FUZZ_CHECK(std::strlen(encoded.c_str()) == static_cast<size_t>(encoded.getLength()));
        cBytes back;
        FUZZ_CHECK(back.base64Decode(encoded.c_str()));
        FUZZ_CHECK(back.toString() == input);

        cChars hex;
        FUZZ_CHECK(hex.hexEncode(data, static_cast<int>(size)));
        FUZZ_CHECK(static_cast<size_t>(hex.getLength()) == 2 * size);
    }
    return 0;
}
