// CRL parsing: each input is written as a CRL file and loaded through a CRL
// list, and parsed again from memory.  A parsed CRL has a revoked map with at
// most one key per revoked entry, each key upper-case hex without leading
// zeros; the error queue is left empty.
#include <cstdint>
#include <string>

#include <openssl/err.h>

#include "cCrlList.h"
#include "cSsl.h"
#include "fuzz_support.h"

namespace {

fuzzsupport::ScratchDir* scratch;

void checkEntry(const cCrlFileEntry& e) {
    if (!e.crl) return;
    FUZZ_CHECK(e.revoked != nullptr);
    const STACK_OF(X509_REVOKED)* entries = X509_CRL_get_REVOKED(e.crl.get());
    FUZZ_CHECK(e.revoked->size() <= static_cast<size_t>(entries ? sk_X509_REVOKED_num(entries) : 0));
    for (const auto& kv : *e.revoked) {
        FUZZ_CHECK(!kv.first.empty());
        FUZZ_CHECK(kv.first == "0" || kv.first[0] != '0');
        for (char ch : kv.first) FUZZ_CHECK((ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F'));
        FUZZ_CHECK(kv.second != nullptr);
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
    FUZZ_CHECK(fuzzsupport::writeFile(scratch->file("in.crl"), data, size));
    cCrlList list("SKI", scratch->path());
    FUZZ_CHECK(list.addCrlFile("crlFile0", "in.crl"));
    FUZZ_CHECK(!list.addCrlFile("crlFile0", "in.crl"));   // a title once
    FUZZ_CHECK(list.addCrlFile("crlFile1", scratch->file("in.crl")));
    for (const auto& kv : list.files) checkEntry(*kv.second);
    FUZZ_CHECK(ERR_peek_error() == 0);

    cCrlFileEntry fromMemory("crlFile2", scratch->path(), "unused");
    if (fromMemory.file.assign(data, static_cast<int>(size)) && size > 0) {
        const bool parsed = fromMemory.parseCrl();
        FUZZ_CHECK(parsed == (fromMemory.crl != nullptr));
        checkEntry(fromMemory);
        // Parsing again replaces the CRL and the map.
        fromMemory.parseCrl();
        checkEntry(fromMemory);
    }
    FUZZ_CHECK(ERR_peek_error() == 0);
    return 0;
}
