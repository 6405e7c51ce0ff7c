#include "cBig5.h"

#include <forward_list>
#include <mutex>

#include "cPlatformCodePage.h"

bool utf8ToBig5(const char* utf8, std::string& big5) {
    return cUtf8ToBig5Lossy(utf8, big5);
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
