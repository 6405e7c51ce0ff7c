// Signing with every combination of the options, each signature verified by
// openssl cms against the test root: content, digest, embedded certificates,
// signed attributes, detached or not.
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "sign_facade_support.h"

using namespace signtest;

namespace {

// "AB", the BIG5 character for "middle", " abc".
const char kBig5Text[] = "AB\xA4\xA4 abc";
const std::string kUtf16Text("A\0B\0\x2D\x4E \0a\0b\0c\0", 14);

using Options = std::tuple<const char* /*digest*/, int /*addCert*/, const char* /*pfx*/, bool /*timestamp*/,
                           bool /*plainText*/, const char* /*encoding*/>;

std::string optionsName(const ::testing::TestParamInfo<Options>& info) {
    const auto& [d, c, pfx, ts, plain, enc] = info.param;
    return std::string(d) + "_cert" + std::to_string(c) + (std::string(pfx) == "pfx_user" ? "_pfx" : "_pfxWithCa") +
           (ts ? "_timestamp" : "") + (plain ? "_plain" : "_detached") +
           (std::string(enc) == "BIG5" ? "_big5" : "_utf16le");
}

class SignMatrix : public FacadeTest, public ::testing::WithParamInterface<Options> {};

TEST_P(SignMatrix, VerifiesWithOpenssl) {
    const auto& [digest, addCert, pfx, timestamp, plainText, encoding] = GetParam();
    Props p = props(pfx);
    p.set("PKCS7.digest", digest)
        .set("PKCS7.addCert", std::to_string(addCert))
        .set("PKCS7.addTimestamp", timestamp ? "true" : "false")
        .set("PKCS7.addPlainText", plainText ? "TRUE" : "false");
    ASSERT_EQ(initialise(p), 0);
    ASSERT_EQ(sign.SignPkcs7(kBig5Text, encoding), 0);
    ASSERT_NE(sign.getSignature(), nullptr);

    const std::string content = std::string(encoding) == "BIG5" ? std::string(kBig5Text) : kUtf16Text;
    const Verified v = verifySignature(sign.getSignature(), content);
    EXPECT_TRUE(v.ok) << v.errors;
    EXPECT_EQ(v.content, content);
    EXPECT_EQ(v.digest, std::string(digest) == "SHA1" ? "sha1" : "sha256");
    EXPECT_EQ(v.detached, !plainText);
    EXPECT_EQ(v.contentTypeAttr, timestamp);
    EXPECT_EQ(v.signingTimeAttr, timestamp);
    EXPECT_EQ(v.messageDigestAttr, timestamp);

    const std::vector<std::string> serials = embeddedSerials(sign.getSignature());
    if (addCert == 0) {
        EXPECT_TRUE(v.certificates.empty());
    } else if (addCert == 1) {
        EXPECT_EQ(serials, std::vector<std::string>{pki["user_serial"]});
    } else {
        // The signer's certificate first, then its issuer chain: from the
        // PKCS#12 file when it carries one, else from the chain store.
        ASSERT_EQ(v.certificates.size(), 3u);
        EXPECT_EQ(serials[0], pki["user_serial"]);
        EXPECT_NE(v.certificates[0].find("CN = Wang Ming"), std::string::npos);
        std::set<std::string> cas(serials.begin() + 1, serials.end());
        EXPECT_EQ(cas, (std::set<std::string>{"01", "02"}));
    }
}

INSTANTIATE_TEST_SUITE_P(Sign, SignMatrix,
                         ::testing::Combine(::testing::Values("SHA1", "SHA256"), ::testing::Values(0, 1, 2),
                                            ::testing::Values("pfx_user", "pfx_with_ca"), ::testing::Bool(),
                                            ::testing::Bool(), ::testing::Values("BIG5", "UTF-16LE")),
                         optionsName);

// A signature made from bytes, with line ends that must stay as they are.
TEST_F(FacadeTest, BinaryContentKeepsLineEnds) {
    ASSERT_EQ(initialise(props()), 0);
    const std::string data("line\r\nnext\nlast\r\0tail", 21);
    ASSERT_EQ(sign.SignPkcs7Bin(reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size())), 0);
    const Verified v = verifySignature(sign.getSignature());
    EXPECT_TRUE(v.ok) << v.errors;
    EXPECT_EQ(v.content, data);
}

}  // namespace
