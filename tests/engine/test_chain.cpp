// The chain store: loading chain files, self-verification, SKI matching,
// duplicates, bad files, the issuer chain for signing, and CRL keys.
#include <algorithm>
#include <memory>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <openssl/pem.h>

#include "cCertChainList.h"
#include "cProperty.h"
#include "cX509.h"
#include "sign_test_support.h"

using namespace signtest;

namespace {

class ChainTest : public EngineTest {
protected:
    const Pki& pki = Pki::get();

    // Properties with P7B.path set to the fixture's folder, then `lines`.
    std::unique_ptr<cProperty> props(const std::string& lines, const std::string& folder = "<p7b>") {
        auto p = std::make_unique<cProperty>();
        const std::string path = folder == "<p7b>" ? pki["p7b_dir"] : folder;
        p->parse(("P7B.path = " + path + "\n" + lines).c_str());
        return p;
    }
    std::string slot(int n, const std::string& name, const std::string& ski) {
        return cLog::format("P7B%d.name = %s\nP7B%d.SKI = %s\n", n, name.c_str(), n, ski.c_str());
    }
    X509Ptr loadPem(const char* key) {
        BioPtr bio(BIO_new_file(pki[key].c_str(), "r"));
        return X509Ptr(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    }
    std::string discarded() const { return big5("內部驗證失敗, 這個憑證鏈捨棄不使用, 無法用來驗憑證鏈"); }
    cCertChainList store;
};

TEST_F(ChainTest, LoadsFileNamedWithoutRegardToCase) {
    LogCapture log;
    auto p = props(slot(0, "good chain.p7b", pki["inter_ski"]));
    EXPECT_TRUE(store.loadCertChainFiles(p.get()));
    ASSERT_EQ(store.size(), 1u);
    const cCertChainEntry* e = store.find(pki["inter_ski"]);
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(e->valid);
    EXPECT_EQ(e->name, "P7B0");
    EXPECT_EQ(e->subjects, (std::set<std::string>{pki["root_subject"], pki["inter_subject"]}));
    EXPECT_EQ(e->issuersBySki.size(), 2u);
    EXPECT_EQ(e->issuersBySki.count(pki["root_ski"]), 1u);
    EXPECT_EQ(store.path, pki["p7b_dir"]);
    EXPECT_TRUE(log.has("INFO", big5("執行載入 P7B0.name 檔") + " = good chain.p7b"));
    EXPECT_TRUE(log.has("INFO", big5("載入 P7B0.name 檔成功")));
    EXPECT_TRUE(log.has("INFO", "end cCertChainList::loadCertChainFiles() = true"));
    EXPECT_TRUE(log.bodies("ERROR").empty()) << log.dump("ERROR");
}

// The chain file's path is P7B.path, "/" and the listed name: a folder given
// with or without a final "/" both work.
TEST_F(ChainTest, JoinsFolderAndFileWithSlash) {
    auto p = props(slot(0, "GOOD CHAIN.P7B", pki["inter_ski"]), pki["p7b_dir"] + "/");
    EXPECT_TRUE(store.loadCertChainFiles(p.get()));
    EXPECT_EQ(store.size(), 1u);
}

TEST_F(ChainTest, SkiInLowerCaseIsDiscarded) {
    std::string lower = pki["inter_ski"];
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    LogCapture log;
    auto p = props(slot(0, "good chain.p7b", lower));
    EXPECT_FALSE(store.loadCertChainFiles(p.get()));
    EXPECT_TRUE(store.isEmpty());
    EXPECT_TRUE(log.has("ERROR", big5("憑證鏈 SKI 與設定檔不符") + " = " + lower));
    EXPECT_TRUE(log.has("ERROR", discarded()));
}

TEST_F(ChainTest, ExpiredCaIsDiscardedOtherSlotsLoad) {
    LogCapture log;
    auto p = props(slot(0, "expired ca.p7b", pki["inter_expired_ski"]) + slot(1, "good chain.p7b", pki["inter_ski"]));
    EXPECT_FALSE(store.loadCertChainFiles(p.get()));  // one file opened and not stored
    EXPECT_EQ(store.size(), 1u);
    EXPECT_NE(store.find(pki["inter_ski"]), nullptr);
    EXPECT_TRUE(log.has("ERROR", big5("\t|\t|--- 驗章失敗, 原因") + " = certificate has expired")) << log.dump("ERROR");
    EXPECT_TRUE(log.has("ERROR", discarded()));
}

TEST_F(ChainTest, ChainWithoutRootIsDiscarded) {
    LogCapture log;
    auto p = props(slot(0, "no root.p7b", pki["inter_ski"]));
    EXPECT_FALSE(store.loadCertChainFiles(p.get()));
    EXPECT_TRUE(store.isEmpty());
    EXPECT_TRUE(log.has("ERROR", big5("找不到根憑證可供驗章")));
    EXPECT_TRUE(log.has("ERROR", discarded()));
}

TEST_F(ChainTest, SameSkiTwiceKeepsTheFirstAndCountsBoth) {
    auto p = props(slot(0, "good chain.p7b", pki["inter_ski"]) + slot(1, "good copy.p7b", pki["inter_ski"]));
    EXPECT_TRUE(store.loadCertChainFiles(p.get()));
    ASSERT_EQ(store.size(), 1u);
    EXPECT_EQ(store.find(pki["inter_ski"])->name, "P7B0");
}

TEST_F(ChainTest, UnlistedNameIsSkippedSilently) {
    LogCapture log;
    auto p = props(slot(3, "absent.p7b", pki["inter_ski"]) + slot(4, "readme.txt", pki["inter_ski"]));
    EXPECT_TRUE(store.loadCertChainFiles(p.get()));  // nothing opened, nothing stored
    EXPECT_TRUE(store.isEmpty());
    EXPECT_TRUE(log.bodies("ERROR").empty());
    EXPECT_FALSE(log.hasPrefix("INFO", big5("執行載入")));
}

TEST_F(ChainTest, RootSkiIsAlsoAValidKey) {
    auto p = props(slot(0, "good chain.p7b", pki["root_ski"]));
    EXPECT_TRUE(store.loadCertChainFiles(p.get()));
    EXPECT_NE(store.find(pki["root_ski"]), nullptr);
}

TEST_F(ChainTest, EndEntityInChainIsNotVerifiedButChecked) {
    LogCapture log;
    auto p = props(slot(0, "with ee.p7b", pki["inter_ski"]));
    EXPECT_TRUE(store.loadCertChainFiles(p.get()));
    const cCertChainEntry* e = store.find(pki["inter_ski"]);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->issuersBySki.size(), 2u);
    EXPECT_EQ(e->issuersBySki.count(pki["user_ski"]), 0u);
    EXPECT_TRUE(log.has("DEBUG", big5("\t|\t|--- 不予驗證")));
    EXPECT_TRUE(log.has("DEBUG", "\t|\t|--- CrlDP = http://crl.example.test/user.crl"));
    EXPECT_TRUE(log.hasPrefix("DEBUG", big5("\t|--- EE 憑證, 憑證序號") + " = " + pki["user_serial"]));
    EXPECT_TRUE(log.hasPrefix("DEBUG", big5("\t|--- 根憑證, 憑證序號") + " = 1"));
    EXPECT_TRUE(log.hasPrefix("DEBUG", big5("\t|--- CA 憑證, 憑證序號") + " = 2"));
    EXPECT_TRUE(log.has("DEBUG", "end cCertChainEntry::verifyCert() = 0x00000000(0)"));
}

TEST_F(ChainTest, VerifyCert) {
    auto p = props(slot(0, "good chain.p7b", pki["inter_ski"]));
    ASSERT_TRUE(store.loadCertChainFiles(p.get()));
    cCertChainEntry* e = store.chains.at(pki["inter_ski"]).get();
    EXPECT_EQ(e->verifyCert(loadPem("user_pem").get()), 0);
    EXPECT_EQ(e->verifyCert(loadPem("user_expired_pem").get()), X509_V_ERR_CERT_HAS_EXPIRED);
    LogCapture log;
    EXPECT_EQ(e->verifyCert(loadPem("root_pem").get()), 0);
    X509Ptr user = loadPem("user_pem");
    cCertChainEntry other("P7B9", "", e->signedData.get(), nullptr);  // no properties: not valid
    EXPECT_FALSE(other.valid);
    other.subjects.erase(pki["inter_subject"]);
    EXPECT_EQ(other.verifyCert(user.get()), -1);
    EXPECT_TRUE(log.has("ERROR", big5("不在同一個憑證鏈!")));
}

class ChainBadFiles : public ChainTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ChainBadFiles, OpenedNotStored) {
    LogCapture log;
    auto p = props(slot(0, GetParam(), pki["inter_ski"]) + slot(1, "good chain.p7b", pki["inter_ski"]));
    EXPECT_FALSE(store.loadCertChainFiles(p.get()));
    EXPECT_EQ(store.size(), 1u);  // the good slot still loads
    EXPECT_EQ(store.find(pki["inter_ski"])->name, "P7B1");
    EXPECT_FALSE(log.bodies("ERROR").empty());
}

INSTANTIATE_TEST_SUITE_P(Chain, ChainBadFiles,
                         ::testing::Values("garbage.p7b", "truncated.p7b", "empty.p7b", "no certs.p7b", "data.p7b"),
                         [](const auto& info) {
                             std::string n = info.param;
                             for (char& c : n)
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

// A FIFO or a folder listed as a chain file is not waited on: it counts as a
// chain file that cannot be read (an ERROR, the load reports failure); a
// chain file that is a link to a regular file is read.
TEST_F(ChainTest, FifoAndFolderAreRefusedLinkIsRead) {
    enginetest::TempDir tmp;
    ASSERT_EQ(::mkfifo((tmp / "pipe.p7b").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir((tmp / "folder.p7b").c_str(), 0700), 0);
    ASSERT_EQ(::symlink((pki["p7b_dir"] + "/Good Chain.P7B").c_str(), (tmp / "linked.p7b").c_str()), 0);
    LogCapture log;
    auto p = props(slot(0, "pipe.p7b", pki["root_ski"]) + slot(1, "folder.p7b", pki["root_ski"]) +
                       slot(2, "linked.p7b", pki["inter_ski"]),
                   tmp.path());
    ::alarm(20);   // a blocking open ends the test here
    EXPECT_FALSE(store.loadCertChainFiles(p.get()));
    ::alarm(0);
    ASSERT_EQ(store.size(), 1u);
    EXPECT_EQ(store.find(pki["inter_ski"])->name, "P7B2");
    EXPECT_EQ(log.bodies("ERROR").size(), 2u) << log.dump("ERROR");
}

TEST_F(ChainTest, FolderErrors) {
    LogCapture log;
    EXPECT_FALSE(store.loadCertChainFiles(nullptr));
    EXPECT_TRUE(log.has("ERROR", big5("參數錯誤 : property = NULL")));
    cProperty none;
    none.parse("LOG.level = DEBUG\n");
    EXPECT_FALSE(store.loadCertChainFiles(&none));
    EXPECT_TRUE(log.has("ERROR", big5("未指定 P7B 目錄!")));
    auto p = props(slot(0, "good chain.p7b", pki["inter_ski"]), pki["p7b_dir"] + "/missing");
    EXPECT_FALSE(store.loadCertChainFiles(p.get()));
    EXPECT_TRUE(log.has("ERROR", big5("無法讀取 P7B 目錄!")));
    EXPECT_TRUE(store.isEmpty());
}

TEST_F(ChainTest, LoadOnceKeepsTheFirstStoredChains) {
    auto empty = props(slot(0, "absent.p7b", pki["inter_ski"]));
    EXPECT_TRUE(store.loadOnce(empty.get()));
    EXPECT_TRUE(store.isEmpty());  // nothing stored: the next call tries again
    auto good = props(slot(0, "good chain.p7b", pki["inter_ski"]));
    EXPECT_TRUE(store.loadOnce(good.get()));
    EXPECT_EQ(store.size(), 1u);
    LogCapture log;
    auto elsewhere = props(slot(0, "good chain.p7b", pki["root_ski"]), "/no/such/folder");
    EXPECT_TRUE(store.loadOnce(elsewhere.get()));
    EXPECT_EQ(store.size(), 1u);
    EXPECT_EQ(store.path, pki["p7b_dir"]);
    EXPECT_FALSE(log.hasPrefix("INFO", "begin cCertChainList::loadCertChainFiles()"));
}

TEST_F(ChainTest, CrlFilesOfAChainDoNotDecideItsValidity) {
    LogCapture log;
    auto p = props(slot(0, "good chain.p7b", pki["inter_ski"]) + "CRL.path = " + pki["crl_dir"] +
                   "\nP7B0.crlFile0 = current.crl\nP7B0.crlFile2 = garbage.crl\nP7B0.crlFile4 = missing.crl\n"
                   "P7B0.crlFile5 = expired.crl\n");
    EXPECT_TRUE(store.loadCertChainFiles(p.get()));
    const cCertChainEntry* e = store.find(pki["inter_ski"]);
    ASSERT_NE(e, nullptr);
    ASSERT_TRUE(e->crls);
    EXPECT_EQ(e->crls->id, pki["inter_ski"]);
    EXPECT_EQ(e->crls->dir, pki["crl_dir"]);
    EXPECT_EQ(e->crls->files.size(), 3u);  // crlFile5 is beyond the five keys
    EXPECT_TRUE(e->crls->files.at("crlFile0")->crl);
    EXPECT_FALSE(e->crls->files.at("crlFile2")->crl);
    EXPECT_TRUE(log.has("INFO", big5("載入 crl 檔數量") + " = 0x00000003(3)"));
}

// ---- prepareCertChain ----------------------------------------------------------------

TEST_F(ChainTest, IssuerChainRootFirst) {
    auto p = props(slot(0, "good chain.p7b", pki["inter_ski"]));
    ASSERT_TRUE(store.loadCertChainFiles(p.get()));
    LogCapture log;
    X509Ptr user = loadPem("user_pem");
    X509StackViewPtr chain = store.prepareCertChain(user.get());
    ASSERT_TRUE(chain);
    ASSERT_EQ(sk_X509_num(chain.get()), 2);
    EXPECT_EQ(cX509::subjectName(sk_X509_value(chain.get(), 0)), pki["root_subject"]);
    EXPECT_EQ(cX509::subjectName(sk_X509_value(chain.get(), 1)), pki["inter_subject"]);
    EXPECT_TRUE(log.has("DEBUG", big5("這是 CA 的根憑證")));
    EXPECT_TRUE(log.has("DEBUG", big5("找到簽章 CA 的 subject") + " = " + pki["inter_subject"]));
    EXPECT_TRUE(log.has("DEBUG", big5("end cCertChainList::prepareCertChain() 數量") + " = 0x00000002(2)"));
}

TEST_F(ChainTest, IssuerChainOfUnknownIssuerIsNone) {
    auto p = props(slot(0, "good chain.p7b", pki["inter_ski"]));
    ASSERT_TRUE(store.loadCertChainFiles(p.get()));
    LogCapture log;
    X509Ptr root = loadPem("root_pem");  // its AKI is the root's SKI: not a configured key
    EXPECT_FALSE(store.prepareCertChain(root.get()));
    EXPECT_TRUE(log.has("DEBUG", big5("end cCertChainList::prepareCertChain() 數量") + " = 0x00000000(0)"));
    EXPECT_FALSE(store.prepareCertChain(nullptr));
}

// Key identifiers that lead in a circle without a self-issued certificate:
// the walk stops after as many steps as the chain holds certificates.
TEST_F(ChainTest, IssuerChainWalkIsBounded) {
    auto p = props(slot(0, "good chain.p7b", pki["inter_ski"]));
    ASSERT_TRUE(store.loadCertChainFiles(p.get()));
    cCertChainEntry* e = store.chains.at(pki["inter_ski"]).get();
    X509Ptr inter = loadPem("inter_pem");  // its AKI is the root's SKI
    e->issuersBySki[pki["root_ski"]] = std::make_unique<cX509>(inter.get());
    X509Ptr user = loadPem("user_pem");
    X509StackViewPtr chain = store.prepareCertChain(user.get());
    ASSERT_TRUE(chain);
    EXPECT_EQ(sk_X509_num(chain.get()), 2);
}

}  // namespace
