// The signing facade: the protected password, the three password sources,
// configuration errors, re-initialisation, the checks before signing, and
// argument errors. Signatures are checked with the openssl command.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "cError.h"
#include "cAesCipher.h"
#include "cCertChainList.h"
#include "cChars.h"
#include "cPasswordKey.h"
#include "cPkcs12.h"
#include "sign_facade_support.h"

using namespace signtest;

namespace {

std::string intValue(int v) { return cLog::format("0x%08X(%d)", v, v); }

class Facade : public FacadeTest {};

// ---- MakeTWCASignPasswd -----------------------------------------------------------------

TEST_F(Facade, ProtectedPasswordRoundTrip) {
    Props p = props();
    LogCapture log;
    const std::string enced = protect(p, pki["password"]);
    EXPECT_EQ(enced.size(), 24u);  // base64 of one AES block
    EXPECT_EQ(enced.find(pki["password"]), std::string::npos);
    EXPECT_EQ(sign.TWCASignInitial(p.write().c_str(), enced.c_str()), 0);
    EXPECT_TRUE(sign.isInitialised());
    EXPECT_EQ(sign.SignPkcs7("abc", "BIG5"), 0);
    const Verified v = verifySignature(sign.getSignature());
    EXPECT_TRUE(v.ok) << v.errors;
    EXPECT_EQ(v.content, "abc");
    EXPECT_EQ(v.certificates.size(), 1u);
    // The DEBUG log of the whole exchange never shows the plain password.
    std::string all;
    for (const auto& line : log.lines()) all += line + "\n";
    EXPECT_NE(all.find("begin TWCASign::SignPkcs7Bin()"), std::string::npos);
    EXPECT_EQ(all.find(pki["password"]), std::string::npos);
}

TEST_F(Facade, ProtectedPasswordOutputArea) {
    Props p = props();
    const std::string file = p.write();
    char out[64];
    int len = 0;
    EXPECT_EQ(sign.MakeTWCASignPasswd(nullptr, &len, file.c_str(), "secret"), 0);
    EXPECT_EQ(len, 24);

    LogCapture log;
    std::memset(out, 'X', sizeof out);
    len = 10;
    EXPECT_EQ(sign.MakeTWCASignPasswd(out, &len, file.c_str(), "secret"), 5003);
    EXPECT_EQ(sign.getLastError(), 5003);
    EXPECT_EQ(len, 24);
    EXPECT_EQ(std::string(out, 10), std::string(10, '\0'));
    EXPECT_EQ(out[10], 'X');
    EXPECT_FALSE(log.bodies("ERROR").empty());

    std::memset(out, 'X', sizeof out);
    len = 24;  // room for the text but not for a terminator
    EXPECT_EQ(sign.MakeTWCASignPasswd(out, &len, file.c_str(), "secret"), 0);
    EXPECT_EQ(out[24], 'X');
    std::memset(out, 'X', sizeof out);
    len = 25;
    EXPECT_EQ(sign.MakeTWCASignPasswd(out, &len, file.c_str(), "secret"), 0);
    EXPECT_EQ(out[24], '\0');
    EXPECT_EQ(std::strlen(out), 24u);
}

TEST_F(Facade, ProtectedPasswordFailures) {
    const std::string file = props().write();
    const std::string longPassword(600, 'p');
    struct {
        const char* file;
        const char* password;
        bool nullLen;
        int code;
        const char* error;
    } cases[] = {
        {nullptr, "secret", false, 1202, "參數 propertyFile 為 NULL"},
        {"", "secret", false, 1202, "參數 propertyFile 為 NULL"},
        {"<missing>", "secret", false, 1202, "property 檔讀取失敗"},
        {"<file>", nullptr, false, 5005, "passwd 參數錯誤"},
        {"<file>", "", false, 5005, "passwd 參數錯誤"},
        {"<file>", longPassword.c_str(), false, 5063, "加密失敗"},
        {"<file>", "secret", true, 5005, "參數 outLen 內容為 NULL"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        std::string name = c.file ? c.file : "";
        if (name == "<file>") name = file;
        if (name == "<missing>") name = dir / "missing.properties";
        LogCapture log;
        char out[512];
        int len = sizeof out;
        EXPECT_EQ(sign.MakeTWCASignPasswd(out, c.nullLen ? nullptr : &len, c.file ? name.c_str() : nullptr, c.password),
                  c.code);
        EXPECT_EQ(sign.getLastError(), c.code);
        EXPECT_TRUE(log.has("ERROR", big5(c.error))) << log.dump("ERROR");
    }
}

// ---- properties file ---------------------------------------------------------------------

TEST_F(Facade, PropertiesFileProblemsGive1202) {
    writeAll(dir / "empty.properties", "");
    writeAll(dir / "comments.properties", "# only a comment\n; and another\nno equals sign\n");
    writeAll(dir / "binary.properties", std::string("\x00\x01\x02\xff\xfe", 5));
    ::mkdir((dir / "folder.properties").c_str(), 0700);
    struct {
        std::string file;
        bool null;
        const char* error;
    } cases[] = {
        {"", true, "參數 propertyFile 為 NULL"},
        {"", false, "參數 propertyFile 為 空值"},
        {dir / "missing.properties", false, "property 檔讀取失敗"},
        {dir / "empty.properties", false, "property 檔讀取失敗"},
        {dir / "comments.properties", false, "property 檔讀取失敗"},
        {dir / "binary.properties", false, "property 檔讀取失敗"},
        {dir / "folder.properties", false, "property 檔讀取失敗"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + c.error);
        LogCapture log;
        EXPECT_EQ(sign.TWCASignInitial(c.null ? nullptr : c.file.c_str(), nullptr), 1202);
        EXPECT_EQ(sign.getLastError(), 1202);
        EXPECT_TRUE(log.has("ERROR", big5(c.error))) << log.dump("ERROR");
        EXPECT_TRUE(log.has("INFO", "end TWCASign::TWCASign() = " + intValue(1202)));
        EXPECT_FALSE(sign.isInitialised());
    }
}

TEST_F(Facade, AddCertThatIsNoNumberEndsInitialisation) {
    struct {
        const char* value;
        const char* error;
    } cases[] = {{"x", "invalid stoi argument"}, {"", "invalid stoi argument"}, {"99999999999", "stoi argument out of range"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        Props p = props();
        p.set("PKCS7.addCert", c.value);
        LogCapture log;
        EXPECT_EQ(sign.TWCASignInitial(p.write().c_str(), protect(p, pki["password"]).c_str()), 1202);
        EXPECT_TRUE(log.has("ERROR", std::string("PKCS7.addCert = ") + c.error)) << log.dump("ERROR");
        EXPECT_FALSE(sign.isInitialised());
    }
}

TEST_F(Facade, AddCertReading) {
    Props p = props();
    p.set("PKCS7.addCert", " 2abc");
    EXPECT_EQ(initialise(p), 0);
    EXPECT_EQ(sign.getSettings().addCert, 2);
    Props q(dir / "q.properties");
    q.set("PFX.path", pki["pfx_dir"]).set("PFX.file", "user.pfx").set("PFX.pswd", pki["password"]);
    EXPECT_EQ(sign.TWCASignInitial(q.write().c_str(), nullptr), 0);
    const TWCASign::Settings settings = sign.getSettings();
    EXPECT_EQ(settings.addCert, -1);  // absent
    EXPECT_FALSE(settings.addPlainText);
    EXPECT_FALSE(settings.addTimestamp);
    EXPECT_EQ(settings.digest, "SHA256");  // kept from the first initialisation
}

// ---- password sources ---------------------------------------------------------------------

// The PFX.pswdB64 form: the protected password with the key's first 16 bytes as IV.
std::string pswdB64(const std::string& password) {
    cAesCipher aes;
    aes.setKey(kTWCAPasswordKey, kTWCAPasswordKey);
    unsigned char out[600];
    int len = sizeof out;
    EXPECT_EQ(aes.encrypt(reinterpret_cast<const unsigned char*>(password.data()), static_cast<int>(password.size()),
                          out, len),
              0);
    cChars b64;
    b64.base64Encode(out, len);
    return b64.toString();
}

std::string base64Of(const std::string& bytes) {
    cChars b64;
    b64.base64Encode(bytes.data(), static_cast<int>(bytes.size()));
    return b64.toString();
}

TEST_F(Facade, PasswordFromArgumentWinsOverProperties) {
    Props p = props();
    p.set("PFX.pswd", "wrong one");
    EXPECT_EQ(initialise(p), 0);
}

TEST_F(Facade, PasswordFromPlainProperty) {
    Props p = props();
    p.set("PFX.pswd", pki["password"]);
    LogCapture log;
    EXPECT_EQ(sign.TWCASignInitial(p.write().c_str(), nullptr), 0);
    TWCASign other;
    EXPECT_EQ(other.TWCASignInitial(p.write().c_str(), ""), 0);
    EXPECT_TRUE(log.bodies("WARN").empty());
}

TEST_F(Facade, PasswordFromProtectedProperty) {
    Props p = props();
    p.set("PFX.pswdB64", pswdB64(pki["password"]));
    LogCapture log;
    EXPECT_EQ(sign.TWCASignInitial(p.write().c_str(), nullptr), 0);
    EXPECT_TRUE(log.has("WARN", big5("找不到 PFX.pswd 續找 PFX.pswdB64")));
    ASSERT_EQ(sign.SignPkcs7("abc", "BIG5"), 0);
    EXPECT_TRUE(verifySignature(sign.getSignature()).ok);
}

TEST_F(Facade, NoPasswordSource) {
    Props p = props();
    p.set("PFX.pswd", "");
    LogCapture log;
    EXPECT_EQ(sign.TWCASignInitial(p.write().c_str(), nullptr), 5005);
    EXPECT_TRUE(log.has("WARN", big5("找不到 PFX.pswd 續找 PFX.pswdB64")));
    EXPECT_TRUE(log.has("ERROR", big5("找不到 PFX.pswdB64")));
    EXPECT_FALSE(sign.isInitialised());
}

struct BadProtected {
    const char* name;
    std::string value;
    const char* argumentError;   // when passed as encedPfxPasswd
    const char* propertyError;   // when written as PFX.pswdB64 (nullptr: cannot be written)
};

class FacadeBadProtected : public FacadeTest, public ::testing::WithParamInterface<BadProtected> {};

TEST_P(FacadeBadProtected, Gives5005) {
    const BadProtected& c = GetParam();
    {
        Props p = props();
        LogCapture log;
        EXPECT_EQ(sign.TWCASignInitial(p.write().c_str(), c.value.c_str()), 5005);
        EXPECT_TRUE(log.has("ERROR", big5(c.argumentError))) << log.dump("ERROR");
    }
    if (c.propertyError != nullptr) {
        Props p = props();
        p.set("PFX.pswdB64", c.value);
        LogCapture log;
        EXPECT_EQ(sign.TWCASignInitial(p.write().c_str(), nullptr), 5005);
        EXPECT_TRUE(log.has("ERROR", big5(c.propertyError))) << log.dump("ERROR");
    }
    EXPECT_FALSE(sign.isInitialised());
}

INSTANTIATE_TEST_SUITE_P(
    Facade, FacadeBadProtected,
    ::testing::Values(
        BadProtected{"NotBase64", "-----BEGIN PASSWORD-----", "encedPfxPasswd 內容解碼(Base64)失敗", "PFX.pswdB64 內容解碼失敗"},
        BadProtected{"NotWholeBlocks", "YWJj", "encedPfxPasswd 內容解密失敗", "PFX.pswdB64 內容解密"},
        BadProtected{"WrongPadding", base64Of(std::string(16, 'x')), "encedPfxPasswd 內容解密失敗", "PFX.pswdB64 內容解密"},
        // Longer than the 512-byte work area: refused before it is touched. (A
        // properties line holds at most 511 bytes, too few for such a value.)
        BadProtected{"TooLong", base64Of(std::string(528, 'z')), "encedPfxPasswd 內容過長", nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// The facade passes the credential's code on (every broken file and its code
// is in test_pkcs12.cpp's Pkcs12Files): one of each kind here.
TEST_F(Facade, WrongPasswordAndMissingFiles) {
    struct {
        const char* pfxKey;
        std::string password;
        int code;
    } cases[] = {{"pfx_user", "wrong", 5208}, {"pfx_garbage", "", 1102}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pfxKey);
        LogCapture log;
        EXPECT_EQ(initialise(props(c.pfxKey), c.password), c.code);
        EXPECT_TRUE(log.has("ERROR", big5("讀取 pfx 檔失敗, 密碼錯誤")));
        EXPECT_FALSE(sign.isInitialised());
    }
    Props p = props();
    p.set("PFX.file", "missing.pfx");
    EXPECT_EQ(initialise(p), 1102);
    Props q(dir / "q.properties");
    q.set("PFX.pswd", "x");
    LogCapture log;
    EXPECT_EQ(sign.TWCASignInitial(q.write().c_str(), nullptr), 5005);
    EXPECT_TRUE(log.has("ERROR", big5("參數 filePath 長度為 0")));
}

TEST_F(Facade, LegacyPkcs12Signs) {
    ASSERT_EQ(initialise(props("pfx_legacy")), 0);
    ASSERT_EQ(sign.SignPkcs7("legacy", "BIG5"), 0);
    const Verified v = verifySignature(sign.getSignature());
    EXPECT_TRUE(v.ok) << v.errors;
    EXPECT_EQ(v.content, "legacy");
}

// ---- re-initialisation --------------------------------------------------------------------

TEST_F(Facade, FailedReinitialisationKeepsTheCredential) {
    ASSERT_EQ(initialise(props()), 0);
    EXPECT_EQ(initialise(props(), "wrong"), 5208);
    EXPECT_TRUE(sign.isInitialised());
    ASSERT_EQ(sign.SignPkcs7("abc", "BIG5"), 0);
    EXPECT_EQ(embeddedSerials(sign.getSignature()), std::vector<std::string>{pki["user_serial"]});
    EXPECT_TRUE(verifySignature(sign.getSignature()).ok);

    const X509* loaded = sign.withCredential([](const cPkcs12* c) { return c ? c->getCertificate() : nullptr; });
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(sign.getSigningCertificate(), loaded);
    ASSERT_EQ(initialise(props("pfx_user_nonrep")), 0);  // a successful one replaces it
    EXPECT_EQ(sign.getSigningCertificate(), nullptr);  // never left pointing into the old credential
    ASSERT_EQ(sign.SignPkcs7("abc", "BIG5"), 0);
    EXPECT_EQ(embeddedSerials(sign.getSignature()), std::vector<std::string>{pki["user_nonrep_serial"]});
    EXPECT_TRUE(verifySignature(sign.getSignature()).ok);
}

TEST_F(Facade, EmptyDigestAndFilterKeepEarlierValues) {
    Props first = props();
    first.set("PKCS7.digest", "SHA1").set("PFX.signerFilter", "//S_C=US//");
    ASSERT_EQ(initialise(first), 0);
    LogCapture log;
    EXPECT_EQ(sign.SignPkcs7("abc", "BIG5"), 5010);
    EXPECT_TRUE(log.has("ERROR", big5("簽章憑證條件失敗, 返回") + " = " + intValue(5010)));
    EXPECT_EQ(sign.getSignature(), nullptr);

    Props second = props();
    second.set("PKCS7.digest", "").set("PFX.signerFilter", "");
    ASSERT_EQ(initialise(second), 0);
    EXPECT_EQ(sign.SignPkcs7("abc", "BIG5"), 5010);  // filter kept

    Props third = props();
    third.set("PKCS7.digest", "").set("PFX.signerFilter", "//S_C=US//S_CN=Wang//");
    ASSERT_EQ(initialise(third), 0);
    ASSERT_EQ(sign.SignPkcs7("abc", "BIG5"), 0);
    EXPECT_EQ(verifySignature(sign.getSignature()).digest, "sha1");  // digest kept
}

// ---- checks before signing ---------------------------------------------------------------

TEST_F(Facade, CheckValidDrivesTheValidityCheck) {
    struct {
        const char* pfxKey;
        const char* checkValid;
        int code;
        const char* error;
    } cases[] = {
        {"pfx_user_expired", "true", 5011, "驗憑證效期 : 憑證 已過期"},
        {"pfx_user_expired", "TRUE", 5011, "驗憑證效期 : 憑證 已過期"},
        {"pfx_user_notyet", "True", 5012, "驗憑證效期 : 憑證 未生效"},
        {"pfx_user", "true", 0, nullptr},
        {"pfx_user_expired", "false", 0, nullptr},
        {"pfx_user_notyet", "1", 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.pfxKey) + " " + c.checkValid);
        TWCASign fresh;
        Props p = props(c.pfxKey);
        p.set("PFX.checkValid", c.checkValid);
        ASSERT_EQ(fresh.TWCASignInitial(p.write().c_str(), protect(p, pki["password"]).c_str()), 0);
        EXPECT_EQ(fresh.getSettings().checkValidity, c.code != 0 || std::string(c.checkValid) == "true");
        EXPECT_FALSE(fresh.getSettings().checkKeyUsage);
        LogCapture log;
        EXPECT_EQ(fresh.SignPkcs7("abc", "BIG5"), c.code);
        if (c.code != 0) {
            EXPECT_TRUE(log.has("ERROR", big5(c.error))) << log.dump("ERROR");
            EXPECT_TRUE(log.has("ERROR", big5("驗憑證效期失敗, 返回") + " = " + intValue(c.code)));
            EXPECT_EQ(fresh.getSignature(), nullptr);
        } else {
            const Verified v = verifySignature(fresh.getSignature(), "", "-no_check_time");
            EXPECT_TRUE(v.ok) << v.errors;
        }
    }
}

TEST_F(Facade, KeyUsageIsNotCheckedBeforeSigning) {
    Props p = props("pfx_user_keyenc");
    p.set("PFX.checkValid", "true");
    ASSERT_EQ(initialise(p), 0);
    ASSERT_EQ(sign.SignPkcs7("abc", "BIG5"), 0);
    const Verified v = verifySignature(sign.getSignature(), "", "-purpose any");
    EXPECT_TRUE(v.ok) << v.errors;
    sign.setCheckKeyUsage(true);  // what the check would do if it were asked for
    LogCapture log;
    EXPECT_EQ(sign.SignPkcs7("abc", "BIG5"), 5017);
    EXPECT_TRUE(log.has("ERROR", big5("驗憑證用途失敗, 返回") + " = " + intValue(5017)));
}

// ---- signing errors ---------------------------------------------------------------------

TEST_F(Facade, SigningBeforeInitialisation) {
    EXPECT_EQ(sign.withCredential([](const cPkcs12* c) { return c; }), nullptr);
    LogCapture log;
    EXPECT_EQ(sign.SignPkcs7("abc", "BIG5"), 5010);
    EXPECT_TRUE(log.has("ERROR", big5("pfx 載入錯誤")));
    const unsigned char data[] = "abc";
    EXPECT_EQ(sign.SignPkcs7Bin(data, 3), 5204);
    EXPECT_EQ(sign.getLastError(), 5204);
    EXPECT_TRUE(log.has("ERROR", big5("pfx 檔尚未載入")));
    EXPECT_EQ(sign.getSignature(), nullptr);
    EXPECT_FALSE(sign.isInitialised());
}

TEST_F(Facade, ArgumentErrors) {
    ASSERT_EQ(initialise(props()), 0);
    struct {
        const char* plain;
        const char* encoding;
        int code;
        const char* error;
    } cases[] = {
        {nullptr, "BIG5", 5005, "參數 plain 內容為 NULL"},
        {"", "BIG5", 5005, "參數 plain 長度為 0"},
        {"abc", nullptr, 5005, "參數 encoding 內容為 NULL"},
        {"abc", "", 5005, "參數 encoding 長度為 0"},
        {"abc", "UTF8", 5901, "無法支援的編碼格式, encoding = UTF8"},
        {"ab\x81", "BIG5", 5901, "convertUniCodeStringToAny(BIG5) 失敗"},
        {"ab\x81", "UTF-16LE", 5901, "convertUniCodeStringToAny(UTF-16LE) 失敗"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        ASSERT_EQ(sign.SignPkcs7("abc", "BIG5"), 0);
        EXPECT_TRUE(verifySignature(sign.getSignature()).ok);
        LogCapture log;
        EXPECT_EQ(sign.SignPkcs7(c.plain, c.encoding), c.code);
        EXPECT_EQ(sign.getLastError(), c.code);
        const std::string e = c.error;
        const auto eq = e.find(" = ");
        const std::string line = eq == std::string::npos ? big5(c.error) : big5(e.substr(0, eq).c_str()) + e.substr(eq);
        EXPECT_TRUE(log.has("ERROR", line)) << log.dump("ERROR");
        EXPECT_EQ(sign.getSignature(), nullptr);  // no earlier signature left behind
    }
    const unsigned char data[] = "abc";
    LogCapture log;
    EXPECT_EQ(sign.SignPkcs7Bin(nullptr, 3), 5005);
    EXPECT_TRUE(log.has("ERROR", big5("參數 data 內容為 NULL")));
    EXPECT_EQ(sign.SignPkcs7Bin(data, 0), 5005);
    EXPECT_EQ(sign.SignPkcs7Bin(data, -4), 5005);
    EXPECT_TRUE(log.has("ERROR", big5("參數 datalen <= 0")));
}

TEST_F(Facade, LowerCaseUtf16Accepted) {
    ASSERT_EQ(initialise(props()), 0);
    ASSERT_EQ(sign.SignPkcs7("AB", "utf-16le"), 0);
    const Verified v = verifySignature(sign.getSignature());
    EXPECT_TRUE(v.ok) << v.errors;
    EXPECT_EQ(v.content, std::string("A\0B\0", 4));
}

TEST_F(Facade, DigestNamesAreExact) {
    for (const char* name : {"sha256", "Sha1", "MD5", "SHA-256"}) {
        SCOPED_TRACE(name);
        Props p = props();
        p.set("PKCS7.digest", name);
        ASSERT_EQ(initialise(p), 0);
        LogCapture log;
        EXPECT_EQ(sign.SignPkcs7("abc", "BIG5"), 5061);
        EXPECT_TRUE(log.has("ERROR", big5("簽章條件錯誤, 演算法") + " = " + name)) << log.dump("ERROR");
    }
    TWCASign fresh;  // a facade whose configuration never named a digest
    Props p = props();
    p.set("PKCS7.digest", "");
    ASSERT_EQ(fresh.TWCASignInitial(p.write().c_str(), protect(p, pki["password"]).c_str()), 0);
    EXPECT_EQ(fresh.SignPkcs7("abc", "BIG5"), 5061);
}

// ---- the process-wide log ------------------------------------------------------------------

// The first configuration's LOG.path and LOG.file place the log; its lines are
// BIG5. Needs a process whose log has no folder yet (ctest runs each case alone).
TEST(FacadeLog, PropertiesPlaceTheLog) {
    if (cLog::instance().isFolderReady()) GTEST_SKIP() << "the log of this process already has its folder";
    const Pki& pki = Pki::get();
    TempDir dir;
    Props p(dir / "p7Sign.properties");
    p.set("LOG.path", dir / "logs/sub").set("LOG.file", "seal.log").set("LOG.level", "WARN")
        .set("PFX.path", pki["pfx_dir"]).set("PFX.file", "user.pfx").set("PFX.pswd", "wrong");
    TWCASign sign;
    EXPECT_EQ(sign.TWCASignInitial(p.write().c_str(), nullptr), 5208);
    EXPECT_EQ(cLog::instance().getBasePath(), dir / "logs/sub/seal.log");
    std::string text;
    for (const std::string& name : {std::string("logs/sub")}) {
        if (DIR* d = ::opendir((dir / name).c_str())) {
            while (dirent* e = ::readdir(d))
                if (e->d_name[0] != '.') text += readAll(dir / name + "/" + e->d_name);
            ::closedir(d);
        }
    }
    EXPECT_NE(text.find(" ERROR " + big5("讀取 pfx 檔失敗, 密碼錯誤") + "\n"), std::string::npos) << text;
    // Lines before the threshold was read stand at the top; after it, the
    // WARN threshold of the same file holds back DEBUG lines.
    EXPECT_NE(text.find("DEBUG Insert MAP Name = LOG.level"), std::string::npos);
    EXPECT_EQ(text.find("end cPkcs12::loadPfxFile()"), std::string::npos);
    ERR_clear_error();
    cLog::instance().setLevel("DEBUG");
}

// ---- the process-wide chain store ------------------------------------------------------------

// Needs a process whose chain store is still empty (ctest runs each case alone).
TEST_F(Facade, ChainStoreLoadsOncePerProcess) {
    cCertChainList& store = cCertChainList::instance();
    if (!store.isEmpty()) GTEST_SKIP() << "the chain store of this process is already loaded";
    TempDir noChains;
    Props p = props();
    p.set("P7B.path", noChains.path());
    ASSERT_EQ(initialise(p), 0);
    EXPECT_TRUE(store.isEmpty());

    ASSERT_EQ(initialise(props()), 0);  // still empty: tried again
    EXPECT_EQ(store.size(), 1u);

    Props elsewhere = props();
    elsewhere.set("P7B.path", dir / "missing");
    LogCapture log;
    TWCASign other;
    ASSERT_EQ(other.TWCASignInitial(elsewhere.write().c_str(), protect(elsewhere, pki["password"]).c_str()), 0);
    EXPECT_EQ(store.size(), 1u);
    EXPECT_EQ(store.path, pki["p7b_dir"]);
    EXPECT_FALSE(log.has("ERROR", big5("無法讀取 P7B 目錄!")));
}

}  // namespace
