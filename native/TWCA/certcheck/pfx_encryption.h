// How a PKCS#12 file is protected, read from its outer structure (no password
// needed): the algorithms of its encrypted contents and shrouded keys, and its
// MAC digest (the engine's cPfxAlgorithms), with those this libcrypto cannot
// use, and whether OpenSSL's legacy provider loaded.
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
    std::vector<std::string> unavailable;  // algorithms (and "MAC <digest>") that cannot be used here
};

void read_pfx_encryption(const char* path, PfxEncryption& out);

}  // namespace orvane::certcheck
