// Where the providers' modules come from: the package's "ossl-modules" folder
// when it exists, OPENSSL_MODULES before it, OpenSSL's own folder otherwise;
// and a legacy PKCS#12 file whose encryption cannot be undone told apart
// from a wrong password. The providers load once per process, so each test
// needs a process of its own (CTest runs every case in one).
#include <cstdlib>
#include <string>

#include <unistd.h>

#include <gtest/gtest.h>
#include <openssl/crypto.h>

#include "TWCASign.h"
#include "cPfxAlgorithms.h"
#include "cPkcs12.h"
#include "cSsl.h"
#include "sign_facade_support.h"

using namespace signtest;

namespace {

std::string systemModules() { return OPENSSL_info(OPENSSL_INFO_MODULES_DIR); }

// A package folder whose "ossl-modules" holds a link to the system's legacy
// module, or nothing.
struct Package {
    TempDir root;
    explicit Package(bool withLegacy, bool withFolder = true) {
        if (!withFolder) return;
        EXPECT_EQ(::mkdir((root / "ossl-modules").c_str(), 0700), 0);
        if (withLegacy)
            EXPECT_EQ(::symlink((systemModules() + "/legacy.so").c_str(), (root / "ossl-modules/legacy.so").c_str()), 0);
    }
    std::string modules() const { return root / "ossl-modules"; }
};

// Not a FacadeTest: its facade would load the providers before the test runs.
class Providers : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        const char* env = std::getenv("OPENSSL_MODULES");
        saved = env ? env : "";
        hadEnv = env != nullptr;
        ::unsetenv("OPENSSL_MODULES");
    }
    void TearDown() override {
        if (hadEnv) ::setenv("OPENSSL_MODULES", saved.c_str(), 1);
        EngineTest::TearDown();
    }
    // Chooses the package folder; the providers must not be loaded yet.
    void use(const Package& package) {
        ASSERT_TRUE(cSslUsePackageModules(package.root.path().c_str()))
            << "the providers were loaded before this test: run it in a process of its own (ctest does)";
    }
    int loadLegacy(const char* password = nullptr) {
        cPkcs12 p12;
        return p12.loadPfxFile(Pki::folderOf(pki["pfx_legacy"]).c_str(), Pki::nameOf(pki["pfx_legacy"]).c_str(),
                               password ? password : pki["password"].c_str());
    }
    // Initialises `facade` from a fixture file with its password in the
    // properties, as a signing session configures it otherwise.
    int initialise(TWCASign& facade, const char* pfxKey) {
        Props p(dir / "p7Sign.properties");
        p.set("PFX.path", Pki::folderOf(pki[pfxKey]))
            .set("PFX.file", Pki::nameOf(pki[pfxKey]))
            .set("PFX.pswd", pki["password"])
            .set("PKCS7.digest", "SHA256")
            .set("PKCS7.addCert", "1")
            .set("PKCS7.addPlainText", "true")
            .set("P7B.path", pki["p7b_dir"])
            .set("P7B0.name", "good chain.p7b")
            .set("P7B0.SKI", pki["inter_ski"]);
        return facade.TWCASignInitial(p.write().c_str(), nullptr);
    }
    const Pki& pki = Pki::get();
    TempDir dir;
    std::string saved;
    bool hadEnv = false;
};

TEST_F(Providers, ThePackageFolderServesTheLegacyModule) {
    Package package(true);
    use(package);
    const cSslProviders& state = cSslProviderState();
    EXPECT_TRUE(state.legacy);
    EXPECT_TRUE(state.defaults);
    EXPECT_STREQ(state.folderFrom, "package");
    EXPECT_EQ(state.moduleFolder, package.modules());
    EXPECT_EQ(loadLegacy(), 0);
    // Once loaded, the folder can no longer change.
    EXPECT_FALSE(cSslUsePackageModules("/elsewhere"));
}

// The folder is used even when it lacks the module: the system's is not
// mapped beside it. A legacy file then fails as such, not as a wrong password.
TEST_F(Providers, AnEmptyPackageFolderMeansNoLegacyProvider) {
    Package package(false);
    use(package);
    EXPECT_FALSE(cSslProviderState().legacy);
    EXPECT_TRUE(cSslProviderState().defaults);
    {
        LogCapture log;
        EXPECT_EQ(loadLegacy(), 5209);
        EXPECT_TRUE(log.has("ERROR", big5("憑證檔的加密演算法無法使用") + " = pbeWithSHA1And40BitRC2-CBC"))
            << log.dump("ERROR");
        EXPECT_TRUE(log.has("ERROR", big5("未載入 OpenSSL legacy provider, 模組目錄") + " = " + package.modules()));
        EXPECT_FALSE(log.has("ERROR", big5("PKCS#12 解析失敗")));
    }
    EXPECT_EQ(loadLegacy("not-the-password"), 5208);  // the MAC still tells a wrong password

    // 3DES and the SHA-1 MAC are in the default provider; RC2-40 is not.
    const std::string der = readAll(pki["pfx_legacy"]);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    Pkcs12Ptr p12(d2i_PKCS12(nullptr, &p, static_cast<long>(der.size())));
    ASSERT_TRUE(p12);
    const cPfxAlgorithms algorithms(p12.get());
    EXPECT_TRUE(algorithms.legacy());
    EXPECT_EQ(algorithms.unavailable(), "pbeWithSHA1And40BitRC2-CBC");

    // The facade passes the code on; a modern file still loads and signs.
    TWCASign facade;
    EXPECT_EQ(initialise(facade, "pfx_legacy"), 5209);
    EXPECT_FALSE(facade.isInitialised());
    ASSERT_EQ(initialise(facade, "pfx_user"), 0);
    ASSERT_EQ(facade.SignPkcs7("modern", "BIG5"), 0);
    EXPECT_TRUE(verifySignature(facade.getSignature()).ok);
}

TEST_F(Providers, OpensslModulesWinsOverThePackage) {
    Package empty(false);
    ::setenv("OPENSSL_MODULES", systemModules().c_str(), 1);
    use(empty);
    EXPECT_TRUE(cSslProviderState().legacy);
    EXPECT_STREQ(cSslProviderState().folderFrom, "OPENSSL_MODULES");
    EXPECT_EQ(loadLegacy(), 0);
}

TEST_F(Providers, OpensslModulesWinsEvenWithoutTheModule) {
    Package full(true);
    TempDir nothing;
    ::setenv("OPENSSL_MODULES", nothing.path().c_str(), 1);
    use(full);
    EXPECT_FALSE(cSslProviderState().legacy);
    EXPECT_EQ(cSslProviderState().moduleFolder, nothing.path());
    EXPECT_EQ(loadLegacy(), 5209);
}

TEST_F(Providers, WithoutThePackageFolderOpensslsOwnServes) {
    Package none(true, false);
    ::setenv("OPENSSL_MODULES", "", 1);  // empty counts as unset
    use(none);
    EXPECT_STREQ(cSslProviderState().folderFrom, "OpenSSL");
    EXPECT_EQ(cSslProviderState().moduleFolder, systemModules());
    EXPECT_TRUE(cSslProviderState().legacy);
    EXPECT_EQ(loadLegacy(), 0);
}

}  // namespace
