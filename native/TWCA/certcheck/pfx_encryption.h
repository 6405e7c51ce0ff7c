// How a PKCS#12 file is protected, read from its outer structure (no password
// needed): the algorithms of its encrypted contents and shrouded keys, and its
// MAC digest. "Legacy" files use the PKCS#12 password-based schemes
// (pbeWithSHA1And...: RC2, RC4, DES, 3DES) instead of PBES2.
#pragma once

#include <string>
#include <vector>

namespace orvane::certcheck {

struct PfxEncryption {
    bool parsed = false;                 // false: not a DER PKCS#12 file
    std::vector<std::string> algorithms; // in file order, without repeats
    bool legacy = false;                 // some algorithm other than PBES2
    std::string mac;                     // digest name; empty without MAC
    long mac_iterations = 0;
};

void read_pfx_encryption(const char* path, PfxEncryption& out);

}  // namespace orvane::certcheck
