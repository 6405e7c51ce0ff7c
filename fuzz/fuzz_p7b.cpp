// Chain-file (P7B) loading: each input is written as the one chain file of a
// folder and loaded through a chain store configured for it, with the SKI of
// the input's last certificate (when it parses) so that valid chains can be
// stored.  Then the issuer chain of every certificate in the input is asked
// for.  The store never holds an invalid entry; every chain handed out is a
// root-first walk of certificates the store owns.
#include <cstdint>
#include <string>

#include <openssl/err.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include "cCertChainList.h"
#include "cProperty.h"
#include "cSsl.h"
#include "cSslPtr.h"
#include "cX509.h"
#include "fuzz_support.h"

namespace {

fuzzsupport::ScratchDir* scratch;

const STACK_OF(X509)* certsOf(const PKCS7* p7) {
    if (p7 == nullptr || OBJ_obj2nid(p7->type) != NID_pkcs7_signed || p7->d.sign == nullptr) return nullptr;
    return p7->d.sign->cert;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::quietLog();
    cSslInitialise();
    scratch = new fuzzsupport::ScratchDir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FUZZ_CHECK(fuzzsupport::writeFile(scratch->file("Chain.P7B"), data, size));

    const unsigned char* p = data;
    Pkcs7Ptr parsed(d2i_PKCS7(nullptr, &p, static_cast<long>(size)));
    ERR_clear_error();
    const STACK_OF(X509)* certs = certsOf(parsed.get());
    std::string ski = "00";
    for (int i = 0; certs && i < sk_X509_num(certs); ++i) {
        const std::string s = cX509::subjectKeyId(sk_X509_value(certs, i));
        if (!s.empty()) ski = s;
    }

    const std::string text = "P7B.path = " + scratch->path() + "\nP7B0.name = chain.p7b\nP7B0.SKI = " + ski +
                             "\nP7B1.name = CHAIN.p7b\nP7B1.SKI = " + ski + "\nCRL.path = " + scratch->path() +
                             "\nP7B0.crlFile0 = Chain.P7B\nP7B0.crlFile1 = /nonexistent/x.crl\n";
    cProperty props;
    FUZZ_CHECK(props.parse(text.c_str()));
    cCertChainList store;
    (void)store.loadCertChainFiles(&props);
    FUZZ_CHECK(store.size() <= 1);
    for (const auto& entry : store.chains) {
        FUZZ_CHECK(entry.second && entry.second->valid);
        FUZZ_CHECK(entry.second->issuersBySki.count(entry.first) == 1);
    }
    for (int i = 0; certs && i < sk_X509_num(certs); ++i) {
        X509StackViewPtr chain = store.prepareCertChain(sk_X509_value(certs, i));
        if (chain) FUZZ_CHECK(sk_X509_num(chain.get()) <= sk_X509_num(certs));
    }
    FUZZ_CHECK(!store.prepareCertChain(nullptr));
    FUZZ_CHECK(ERR_peek_error() == 0);
    return 0;
}
