// Code-page conversion of the text to be signed (the BIG5 form of the
// engine's own messages is in cBig5.h).
//
// "BIG5" means Windows code page 950 (glibc's "CP950"); encoding names are
// matched without regard to letter case.
#ifndef ORVANE_ENGINE_CCODEPAGE_H
#define ORVANE_ENGINE_CCODEPAGE_H

class cBytes;

// Converts zero-terminated BIG5 text to `toEncoding` ("BIG5" or "UTF-16LE" are
// the ones the signer uses; any iconv name is accepted).  For "BIG5" the text
// is validated and `out` receives it unchanged.  False (and `out` empty) for
// null/empty text, a null `out`, an unknown encoding ("iconv_open() 失敗"), an
// invalid or truncated sequence, or no output.
bool convertUniCodeStringToAny(const char* text, const char* toEncoding, cBytes* out);

#endif
