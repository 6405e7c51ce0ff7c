// A signing facade configured from a properties file in a temporary folder.
#ifndef ORVANE_TESTS_SIGN_FACADE_SUPPORT_H
#define ORVANE_TESTS_SIGN_FACADE_SUPPORT_H

#include <string>
#include <vector>

#include "TWCASign.h"
#include "cBytes.h"
#include "cSslPtr.h"
#include "sign_test_support.h"

namespace signtest {

class FacadeTest : public EngineTest {
protected:
    const Pki& pki = Pki::get();
    TempDir dir;
    TWCASign sign;

    // The usual configuration: DEBUG log, one PKCS#12 file of the fixture,
    // SHA256, the signer's certificate, embedded content, the good chain.
    Props props(const char* pfxKey = "pfx_user") const {
        Props p(dir / "p7Sign.properties");
        p.set("LOG.level", "DEBUG")
            .set("PFX.path", Pki::folderOf(pki[pfxKey]))
            .set("PFX.file", Pki::nameOf(pki[pfxKey]))
            .set("PKCS7.digest", "SHA256")
            .set("PKCS7.addCert", "1")
            .set("PKCS7.addPlainText", "true")
            .set("PKCS7.addTimestamp", "false")
            .set("P7B.path", pki["p7b_dir"])
            .set("P7B0.name", "good chain.p7b")
            .set("P7B0.SKI", pki["inter_ski"]);
        return p;
    }
    // The protected form of a password, made by the facade itself.
    std::string protect(const Props& p, const std::string& password) {
        char out[512] = {};
        int len = sizeof out;
        EXPECT_EQ(sign.MakeTWCASignPasswd(out, &len, p.write().c_str(), password.c_str()), 0);
        return std::string(out, static_cast<size_t>(len > 0 ? len : 0));
    }
    // MakeTWCASignPasswd then TWCASignInitial, as the signing module does.
    int initialise(const Props& p, const std::string& password = std::string()) {
        const std::string enced = protect(p, password.empty() ? pki["password"] : password);
        return sign.TWCASignInitial(p.write().c_str(), enced.c_str());
    }
    // Serial numbers (upper-case hex) of the certificates embedded in a signature.
    static std::vector<std::string> embeddedSerials(const char* b64) {
        std::vector<std::string> serials;
        cBytes der;
        if (b64 == nullptr || !der.base64Decode(b64)) return serials;
        const unsigned char* p = der.getData();
        Pkcs7Ptr p7(d2i_PKCS7(nullptr, &p, der.getLength()));
        if (!p7 || !PKCS7_type_is_signed(p7.get()) || p7->d.sign->cert == nullptr) return serials;
        for (int i = 0; i < sk_X509_num(p7->d.sign->cert); ++i) {
            BignumPtr bn(ASN1_INTEGER_to_BN(X509_get0_serialNumber(sk_X509_value(p7->d.sign->cert, i)), nullptr));
            SslTextPtr hex(BN_bn2hex(bn.get()));
            serials.push_back(hex.get());
        }
        return serials;
    }
};

}  // namespace signtest

#endif
