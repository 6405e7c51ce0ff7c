// PKCS#12 loading from arbitrary bytes: each input is written to a file and
// loaded with a fixed wrong password and with the test PKI's password (the
// one the seeds were made with).  A load returns one of its documented codes
// (5209 too: a mutated algorithm identifier names nothing a provider has);
// a successful one holds a key and a certificate on which the signer's checks
// run; OpenSSL's error queue is left empty.
#include <cstdint>
#include <string>

#include <openssl/err.h>

#include "cPkcs12.h"
#include "cSsl.h"
#include "fuzz_support.h"

namespace {

fuzzsupport::ScratchDir* scratch;

bool known(int code) {
    return code == 0 || code == 1102 || code == 5208 || code == 5209;
}

void loadWithPassword(const char* password) {
    cPkcs12 p12;
    const int code = p12.loadPfxFile(scratch->path().c_str(), "in.pfx", password);
    FUZZ_CHECK(known(code));
    FUZZ_CHECK(ERR_peek_error() == 0);
    if (code == 0) {
        FUZZ_CHECK(p12.getCertificate() != nullptr && p12.getPrivateKey() != nullptr);
        const int valid = p12.checkCertValid();
        FUZZ_CHECK(valid == 0 || valid == 5011 || valid == 5012);
        const int usage = p12.checkKeyUsageForSign();
        FUZZ_CHECK(usage == 0 || usage == 5017);
        const int filter = p12.checkSignerFilter("//S_C=TW,S_O=Bank A//I_CN=Orvane Test User CA//");
        FUZZ_CHECK(filter == 0 || filter == 5010);
        (void)p12.countExtraCertificates();
        FUZZ_CHECK(ERR_peek_error() == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::quietLog();
    cSslInitialise();
    scratch = new fuzzsupport::ScratchDir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FUZZ_CHECK(fuzzsupport::writeFile(scratch->file("in.pfx"), data, size));
    loadWithPassword("fixed-wrong-password");
    loadWithPassword("Pa55-w0rd");
    return 0;
}
