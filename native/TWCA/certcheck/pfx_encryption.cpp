#include "pfx_encryption.h"

#include "cFile.h"
#include "cPfxAlgorithms.h"
#include "cSsl.h"
#include "cSslPtr.h"

namespace orvane::certcheck {

void read_pfx_encryption(const char* path, PfxEncryption& out) {
    cSslErrorGuard guard;
    cSslInitialise();
    out = PfxEncryption();
    // Read without waiting on the file: a FIFO or a device is not PKCS#12.
    cFile content;
    size_t got = 0;
    if (cFile::readRegular(path, content, got) != cFile::ReadOk || content.getData() == nullptr) return;
    const unsigned char* der = content.getData();
    Pkcs12Ptr p12(d2i_PKCS12(nullptr, &der, content.getLength()));
    if (!p12) return;
    out.parsed = true;

    const cPfxAlgorithms algorithms(p12.get());
    for (const cPfxAlgorithms::Algorithm& a : algorithms.encryption()) {
        out.algorithms.push_back(a.name);
        if (!a.available) out.unavailable.push_back(a.name);
    }
    out.legacy = algorithms.legacy();
    out.mac = algorithms.mac();
    out.mac_iterations = algorithms.macIterations();
    if (!out.mac.empty() && !algorithms.macAvailable()) out.unavailable.push_back("MAC " + out.mac);
}

}  // namespace orvane::certcheck
