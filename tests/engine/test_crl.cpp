// CRL files of a chain: loading, expiry, revoked serials, and bad files.
#include <cstdlib>
#include <ctime>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cCrlList.h"
#include "sign_test_support.h"

using namespace signtest;

namespace {

class CrlTest : public EngineTest {
protected:
    const Pki& pki = Pki::get();
    std::string dir() const { return pki["crl_dir"]; }
    std::string name(const char* key) const { return Pki::nameOf(pki[key]); }
    std::string intLine(const char* msg, int v) const { return big5(msg) + " = " + cLog::format("0x%08X(%d)", v, v); }
};

TEST_F(CrlTest, CurrentCrlKeepsRevokedSerialsOnce) {
    cCrlList list("SKI", dir());
    LogCapture log;
    ASSERT_TRUE(list.addCrlFile("crlFile0", name("crl_current")));
    const cCrlFileEntry& e = *list.files.at("crlFile0");
    ASSERT_TRUE(e.crl);
    EXPECT_FALSE(e.expired);
    ASSERT_TRUE(e.revoked);
    std::string keys;
    for (const auto& kv : *e.revoked) keys += (keys.empty() ? "" : ",") + kv.first;
    EXPECT_EQ(keys, pki["crl_revoked"]);  // upper-case hex without leading zeros; "80" had a zero byte
    // Five entries, four serials: the repeated FF keeps its first entry.
    STACK_OF(X509_REVOKED)* all = X509_CRL_get_REVOKED(e.crl.get());
    ASSERT_EQ(sk_X509_REVOKED_num(all), 5);
    const ASN1_TIME* kept = X509_REVOKED_get0_revocationDate(e.revoked->at("FF"));
    int days = 0, secs = 0;
    ASSERT_EQ(ASN1_TIME_diff(&days, &secs, kept, X509_REVOKED_get0_revocationDate(sk_X509_REVOKED_value(all, 3))), 1);
    EXPECT_EQ(days, 0);
    EXPECT_TRUE(log.has("DEBUG", intLine("CRL廢止數量", 5)));
    EXPECT_TRUE(log.has("DEBUG", intLine("CRL廢止數量", 4)));
    EXPECT_TRUE(log.has("DEBUG", big5("驗 CRL 效期 : 有效 CRL")));
    EXPECT_TRUE(log.has("DEBUG", big5("載入 CRL 檔案檔名") + " = " + pki["crl_current"]));
}

TEST_F(CrlTest, ExpiredAndWithoutNextUpdate) {
    cCrlList list("SKI", dir());
    LogCapture log;
    ASSERT_TRUE(list.addCrlFile("crlFile0", name("crl_expired")));
    ASSERT_TRUE(list.addCrlFile("crlFile1", name("crl_no_next")));
    EXPECT_TRUE(list.files.at("crlFile0")->expired);
    EXPECT_TRUE(list.files.at("crlFile0")->crl);
    EXPECT_TRUE(list.files.at("crlFile1")->expired);
    EXPECT_TRUE(list.files.at("crlFile1")->crl);
    EXPECT_EQ(log.bodies("ERROR").size(), 2u);
    EXPECT_TRUE(log.has("ERROR", big5("驗 CRL 效期 : CRL 已過期")));
    EXPECT_TRUE(log.has("DEBUG", big5("CRL 下次發佈時間") + " = "));  // no next update: empty time text
}

// The next-update time is UTC and compared with the current UTC time: a CRL
// that expired four hours ago is expired also where local time runs 8 hours
// behind.
TEST_F(CrlTest, ExpiryComparedInUtc) {
    const char* savedTz = std::getenv("TZ");
    const std::string saved = savedTz ? savedTz : "";
    setenv("TZ", "America/Los_Angeles", 1);
    tzset();
    cCrlList list("SKI", dir());
    ASSERT_TRUE(list.addCrlFile("crlFile0", name("crl_just_expired")));
    EXPECT_TRUE(list.files.at("crlFile0")->expired);
    if (savedTz) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
    tzset();
}

TEST(CrlExpiry, NextUpdateItselfStillValid) {
    EXPECT_FALSE(cCrlFileEntry::isExpired("20240105120000", "20240105120000"));
    EXPECT_TRUE(cCrlFileEntry::isExpired("20240105120001", "20240105120000"));
    EXPECT_TRUE(cCrlFileEntry::isExpired("20240105120000", ""));
}

struct BadCrl {
    const char* key;      // a fixture file, or nullptr for a missing one
    const char* error;    // first ERROR line (UTF-8 message)
};

class CrlBadFiles : public CrlTest, public ::testing::WithParamInterface<BadCrl> {};

TEST_P(CrlBadFiles, AddedWithoutCrl) {
    const BadCrl& c = GetParam();
    cCrlList list("SKI", dir());
    LogCapture log;
    const std::string file = c.key ? name(c.key) : "missing.crl";
    EXPECT_TRUE(list.addCrlFile("crlFile0", file));
    const cCrlFileEntry& e = *list.files.at("crlFile0");
    EXPECT_FALSE(e.crl);
    EXPECT_FALSE(e.revoked);
    EXPECT_TRUE(log.hasPrefix("ERROR", big5(c.error))) << log.dump("ERROR");
}

INSTANTIATE_TEST_SUITE_P(Crl, CrlBadFiles,
                         ::testing::Values(BadCrl{"crl_garbage", "解析 crl 失敗, OpenSSL 錯誤訊息 = "},
                                           BadCrl{"crl_truncated", "解析 crl 失敗, OpenSSL 錯誤訊息 = "},
                                           BadCrl{"crl_empty", "尚未載入 CRL 內容!"},
                                           BadCrl{"crl_folder", ""},
                                           BadCrl{nullptr, "Open file"}),
                         [](const auto& info) { return std::string(info.param.key ? info.param.key : "missing"); });

TEST_F(CrlTest, AddCrlFileChecks) {
    LogCapture log;
    cCrlList noDir("SKI", "");
    EXPECT_FALSE(noDir.addCrlFile("crlFile0", "a.crl"));
    EXPECT_TRUE(log.has("ERROR", big5("未指定 CRL 目錄!")));
    cCrlList list("SKI", dir());
    EXPECT_FALSE(list.addCrlFile("crlFile0", ""));
    EXPECT_TRUE(log.has("ERROR", big5("未指定 CRL 檔案的檔名!")));
    EXPECT_TRUE(list.addCrlFile("crlFile0", name("crl_current")));
    EXPECT_FALSE(list.addCrlFile("crlFile0", name("crl_expired")));
    EXPECT_TRUE(log.has("ERROR", big5("CRL 重覆設定") + " = crlFile0"));
    EXPECT_FALSE(list.files.at("crlFile0")->expired);  // the first stays
    EXPECT_TRUE(log.has("PARAM", "title = crlFile0"));
    EXPECT_TRUE(log.has("PARAM", "fileName = " + name("crl_current")));
}

// A FIFO under a CRL file's name is refused at once, not waited on.
TEST_F(CrlTest, FifoIsNotWaitedOn) {
    enginetest::TempDir tmp;
    ASSERT_EQ(::mkfifo((tmp / "pipe.crl").c_str(), 0600), 0);
    cCrlList list("SKI", tmp.path());
    LogCapture log;
    ::alarm(20);   // a blocking open ends the test here
    EXPECT_TRUE(list.addCrlFile("crlFile0", "pipe.crl"));
    ::alarm(0);
    EXPECT_FALSE(list.files.at("crlFile0")->crl);
    EXPECT_TRUE(log.hasPrefix("ERROR", "Read file size")) << log.dump("ERROR");
}

TEST_F(CrlTest, AbsoluteNameUsedUnchanged) {
    cCrlList list("SKI", "/no/such/folder");
    ASSERT_TRUE(list.addCrlFile("crlFile0", pki["crl_current"]));
    EXPECT_TRUE(list.files.at("crlFile0")->crl);
}

TEST_F(CrlTest, EntryWithoutFileName) {
    cCrlFileEntry e("crlFile0", dir(), "");
    LogCapture log;
    EXPECT_FALSE(e.loadCrl());
    EXPECT_TRUE(log.has("ERROR", big5("尚未指定 CRL 儲存檔案的檔名!")));
}

}  // namespace
