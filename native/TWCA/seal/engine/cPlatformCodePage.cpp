#include "cPlatformCodePage.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace {

bool isName(const char* encoding, const char* name) {
    if (encoding == nullptr) return false;
    for (; *encoding && *name; ++encoding, ++name) {
        char c = *encoding;
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != *name) return false;
    }
    return *encoding == '\0' && *name == '\0';
}

}  // namespace

#ifdef _WIN32

namespace {

constexpr UINT kBig5 = 950;

enum class Kind { None, CodePage, Utf16le };

// The Windows form of an encoding name: a code page, UTF-16LE (wide
// characters themselves), or nothing Windows converts.
Kind kindOf(const char* encoding, UINT& codePage) {
    if (isName(encoding, "BIG5") || isName(encoding, "CP950")) {
        codePage = kBig5;
        return Kind::CodePage;
    }
    if (isName(encoding, "UTF-8") || isName(encoding, "UTF8")) {
        codePage = CP_UTF8;
        return Kind::CodePage;
    }
    if (isName(encoding, "UTF-16LE")) return Kind::Utf16le;
    return Kind::None;
}

// Strict decoding to wide characters; false on an invalid sequence.
bool toWide(UINT codePage, const char* in, size_t length, std::wstring& wide) {
    wide.clear();
    if (length == 0) return true;
    if (length > 0x7FFFFFFF) return false;
    const int n = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in, static_cast<int>(length), nullptr, 0);
    if (n <= 0) return false;
    wide.resize(static_cast<size_t>(n));
    return ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, in, static_cast<int>(length), &wide[0], n) == n;
}

// Strict encoding of wide characters: false for a character the code page
// cannot hold (UTF-8 holds every one).
bool fromWide(UINT codePage, const std::wstring& wide, std::string& out) {
    out.clear();
    if (wide.empty()) return true;
    BOOL lossy = FALSE;
    BOOL* usedDefault = codePage == CP_UTF8 ? nullptr : &lossy;
    const DWORD flags = codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    const int n = ::WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                        nullptr, usedDefault);
    if (n <= 0 || lossy) return false;
    out.resize(static_cast<size_t>(n));
    return ::WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), &out[0], n, nullptr,
                                 usedDefault) == n &&
           !lossy;
}

}  // namespace

cTranscodeResult cTranscode(const char* to, const char* from, const char* in, size_t length, char* out,
                            size_t capacity, size_t& produced) {
    produced = 0;
    UINT fromPage = 0, toPage = 0;
    const Kind fromKind = kindOf(from, fromPage);
    const Kind toKind = kindOf(to, toPage);
    if (fromKind != Kind::CodePage || toKind == Kind::None) return cTranscodeResult::NoConverter;
    try {
        std::wstring wide;
        if (!toWide(fromPage, in, length, wide)) return cTranscodeResult::Invalid;
        std::string bytes;
        if (toKind == Kind::Utf16le) {
            // wchar_t is UTF-16 in the machine's order, little-endian on
            // every Windows target.
            bytes.assign(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
        } else if (!fromWide(toPage, wide, bytes)) {
            return cTranscodeResult::Invalid;
        }
        if (bytes.size() > capacity) return cTranscodeResult::NoRoom;
        if (!bytes.empty()) std::memcpy(out, bytes.data(), bytes.size());
        produced = bytes.size();
        return cTranscodeResult::Ok;
    } catch (...) {
        return cTranscodeResult::NoRoom;
    }
}

bool cUtf8ToBig5Lossy(const char* utf8, std::string& big5) {
    big5.clear();
    if (utf8 == nullptr || *utf8 == '\0') return true;
    try {
        const int length = static_cast<int>(std::strlen(utf8));
        // Without MB_ERR_INVALID_CHARS a broken sequence becomes U+FFFD, which
        // has no BIG5 form and so becomes "?" below.
        const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8, length, nullptr, 0);
        if (n <= 0) return false;
        std::wstring wide(static_cast<size_t>(n), L'\0');
        if (::MultiByteToWideChar(CP_UTF8, 0, utf8, length, &wide[0], n) != n) return false;
        const int m = ::WideCharToMultiByte(kBig5, WC_NO_BEST_FIT_CHARS, wide.data(), n, nullptr, 0, "?", nullptr);
        if (m <= 0) return false;
        big5.resize(static_cast<size_t>(m));
        if (::WideCharToMultiByte(kBig5, WC_NO_BEST_FIT_CHARS, wide.data(), n, &big5[0], m, "?", nullptr) != m) {
            big5.clear();
            return false;
        }
        return true;
    } catch (...) {
        big5.clear();
        return false;
    }
}

std::wstring cWidePath(const char* path) {
    std::wstring wide;
    if (path == nullptr) return wide;
    try {
        if (!toWide(kBig5, path, std::strlen(path), wide)) wide.clear();
    } catch (...) {
        wide.clear();
    }
    return wide;
}

std::string cNarrowPath(const wchar_t* path) {
    std::string narrow;
    if (path == nullptr || *path == L'\0') return narrow;
    try {
        const int n = ::WideCharToMultiByte(kBig5, WC_NO_BEST_FIT_CHARS, path, -1, nullptr, 0, "?", nullptr);
        if (n <= 1) return narrow;
        narrow.resize(static_cast<size_t>(n));
        if (::WideCharToMultiByte(kBig5, WC_NO_BEST_FIT_CHARS, path, -1, &narrow[0], n, "?", nullptr) != n)
            return std::string();
        narrow.resize(static_cast<size_t>(n - 1));   // the terminating zero
    } catch (...) {
        narrow.clear();
    }
    return narrow;
}

#else  // POSIX: iconv

namespace {

// glibc names Windows code page 950 "CP950"; its "BIG5" is the narrower
// original table.
const char* iconvName(const char* encoding) {
    return isName(encoding, "BIG5") ? "CP950" : encoding;
}

// One iconv converter, closed with its owner.
class Converter {
public:
    Converter(const char* to, const char* from) : cd(::iconv_open(iconvName(to), iconvName(from))) {}
    ~Converter() {
        if (ok()) ::iconv_close(cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd; }

private:
    iconv_t cd;
};

}  // namespace

cTranscodeResult cTranscode(const char* to, const char* from, const char* in, size_t length, char* out,
                            size_t capacity, size_t& produced) {
    produced = 0;
    if (to == nullptr || from == nullptr) return cTranscodeResult::NoConverter;
    Converter conv(to, from);
    if (!conv.ok()) return cTranscodeResult::NoConverter;
    char* inPtr = const_cast<char*>(in);
    size_t inLeft = length;
    char* outPtr = out;
    size_t outLeft = capacity;
    size_t rc = ::iconv(conv.get(), &inPtr, &inLeft, &outPtr, &outLeft);
    // Ends a shift sequence for targets that keep state.
    if (rc != static_cast<size_t>(-1)) rc = ::iconv(conv.get(), nullptr, nullptr, &outPtr, &outLeft);
    const int failure = rc == static_cast<size_t>(-1) ? errno : 0;
    produced = capacity - outLeft;
    if (failure == E2BIG) return cTranscodeResult::NoRoom;
    if (failure != 0 || inLeft != 0) return cTranscodeResult::Invalid;
    return cTranscodeResult::Ok;
}

bool cUtf8ToBig5Lossy(const char* utf8, std::string& big5) {
    big5.clear();
    if (utf8 == nullptr) return true;
    try {
        Converter conv("BIG5", "UTF-8");
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

#endif
