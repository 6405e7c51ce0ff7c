// Code-page conversion as the platform offers it: iconv on POSIX, the Windows
// code-page functions (MultiByteToWideChar / WideCharToMultiByte) on Windows.
//
// The engine names encodings as iconv does ("BIG5", "UTF-16LE", "UTF-8");
// "BIG5" is Windows code page 950 on every platform (glibc's "CP950", whose
// "BIG5" is the narrower original table).  Windows offers only the encodings
// it has a code page for; iconv offers whatever the C library knows.
//
// On Windows the engine's file names are code page 950 bytes too (the
// properties file that carries them is written in that code page there), so
// the wide-character file calls get their names through cWidePath.
#ifndef ORVANE_ENGINE_CPLATFORMCODEPAGE_H
#define ORVANE_ENGINE_CPLATFORMCODEPAGE_H

#include <cstddef>
#include <string>

enum class cTranscodeResult {
    Ok,            // every input byte converted
    NoConverter,   // the platform cannot convert between the two encodings
    Invalid,       // an invalid or truncated sequence in the input
    NoRoom,        // the output did not fit in `capacity` bytes
};

// Converts `length` bytes of `in` from `from` to `to` into `out` (room for
// `capacity` bytes); `produced` is the count written.  Strict: a byte
// sequence that is not valid in `from`, or a character `to` cannot hold,
// fails.  A target that keeps shift state is returned to its initial state.
cTranscodeResult cTranscode(const char* to, const char* from, const char* in, size_t length, char* out,
                            size_t capacity, size_t& produced);

// The BIG5 bytes of UTF-8 text; a character without a BIG5 form, or a broken
// UTF-8 sequence, becomes "?".  False when the platform cannot convert or
// memory runs out (`big5` is then empty).
bool cUtf8ToBig5Lossy(const char* utf8, std::string& big5);

#ifdef _WIN32
// A file name of the engine (code page 950 bytes) for the wide-character
// calls; empty for a name that is not valid code page 950.
std::wstring cWidePath(const char* path);
// A file name from the wide-character calls as code page 950 bytes; a
// character without a BIG5 form becomes "?".
std::string cNarrowPath(const wchar_t* path);
#endif

#endif
