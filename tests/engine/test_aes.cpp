// The password cipher, checked against the openssl command as the peer.
#include <string>

#include <gtest/gtest.h>

#include "cAesCipher.h"
#include "cChars.h"
#include "cPasswordKey.h"
#include "sign_test_support.h"

using namespace signtest;

namespace {

class AesTest : public EngineTest {};

std::string hex(const unsigned char* p, int n) {
    cChars h;
    h.hexEncode(p, n);
    return h.toString();
}

TEST_F(AesTest, MatchesOpensslAes256Cbc) {
    cAesCipher aes;
    ASSERT_TRUE(aes.setKey(kTWCAPasswordKey, kTWCAPasswordIv));
    EXPECT_EQ(aes.keyBits, 256);
    const std::string plain = "Pa55-w0rd";
    unsigned char out[64];
    int outLen = sizeof out;
    ASSERT_EQ(aes.encrypt(reinterpret_cast<const unsigned char*>(plain.data()), static_cast<int>(plain.size()), out,
                          outLen),
              0);
    EXPECT_EQ(outLen, 16);
    TempDir dir;
    writeAll(dir / "plain", plain);
    const std::string peer = runCommand("openssl enc -aes-256-cbc -K " + hex(kTWCAPasswordKey, 32) + " -iv " +
                                 hex(kTWCAPasswordIv, 16) + " -in " + shellQuote(dir / "plain") + " | od -An -tx1 | tr -d ' \\n'");
    std::string mine;
    for (int i = 0; i < outLen; ++i) mine += cLog::format("%02x", out[i]);
    EXPECT_EQ(mine, peer);

    unsigned char back[64];
    int backLen = sizeof back;
    ASSERT_EQ(aes.decrypt(out, outLen, back, backLen), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back), backLen), plain);
}

TEST_F(AesTest, ReportsLengthWhenOutputMissingOrSmall) {
    cAesCipher aes;
    aes.setKey(kTWCAPasswordKey, kTWCAPasswordIv);
    const unsigned char in[20] = {1};
    unsigned char out[16];
    int outLen = sizeof out;
    EXPECT_EQ(aes.encrypt(in, 20, out, outLen), 32);  // too small: needed length, nothing copied
    EXPECT_EQ(outLen, 16);
    EXPECT_EQ(aes.encrypt(in, 20, nullptr, outLen), 32);
}

TEST_F(AesTest, Failures) {
    cAesCipher aes;
    unsigned char buf[64] = {};
    int len = sizeof buf;
    EXPECT_EQ(aes.encrypt(buf, 16, buf, len), -1);  // no key yet
    EXPECT_FALSE(aes.setKey(nullptr, nullptr));
    EXPECT_EQ(aes.keyBits, -1);
    EXPECT_EQ(aes.mode, -1);
    ASSERT_TRUE(aes.setKey(kTWCAPasswordKey, nullptr));
    EXPECT_EQ(aes.encrypt(nullptr, 16, buf, len), -1);
    EXPECT_EQ(aes.encrypt(buf, 0, buf, len), -1);
    EXPECT_EQ(aes.decrypt(buf, 15, buf, len), -1);  // not whole blocks
    unsigned char bad[16] = {0x55};
    len = sizeof buf;
    const int rc = aes.decrypt(bad, 16, buf, len);  // padding almost surely wrong
    EXPECT_TRUE(rc == -1 || rc == 0);
}

}  // namespace
