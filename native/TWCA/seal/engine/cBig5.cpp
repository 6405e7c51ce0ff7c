#include "cBig5.h"

#include <cerrno>
#include <cstring>
#include <forward_list>
#include <mutex>

bool utf8ToBig5(const char* utf8, std::string& big5) {
    big5.clear();
    if (utf8 == nullptr) return true;
    try {
        cIconv conv("CP950", "UTF-8");
        if (!conv.ok()) return false;
        char* inPtr = const_cast<char*>(utf8);
        size_t inLeft = std::strlen(utf8);
        char chunk[256];
        while (inLeft > 0) {
            char* outPtr = chunk;
            size_t outLeft = sizeof chunk;
            const size_t rc = ::iconv(conv.get(), &inPtr, &inLeft, &outPtr, &outLeft);
            big5.append(chunk, sizeof chunk - outLeft);
            if (rc == static_cast<size_t>(-1)) {
                if (errno == E2BIG) continue;
                // A character without a BIG5 form, or broken UTF-8: write "?"
                // and go on after the sequence.
                big5 += '?';
                ++inPtr;
                --inLeft;
                while (inLeft > 0 && (static_cast<unsigned char>(*inPtr) & 0xC0) == 0x80) {
                    ++inPtr;
                    --inLeft;
                }
            }
        }
        return true;
    } catch (...) {
        big5.clear();
        return false;
    }
}

const char* big5Literal(const char* utf8) noexcept {
    try {
        std::string big5;
        if (!utf8ToBig5(utf8, big5)) return "";
        // Kept for the life of the process (log messages are used until exit),
        // in a store that is never destroyed.
        static std::mutex storeLock;
        static auto* store = new std::forward_list<std::string>();
        std::lock_guard<std::mutex> guard(storeLock);
        store->push_front(std::move(big5));
        return store->front().c_str();
    } catch (...) {
        return "";
    }
}
