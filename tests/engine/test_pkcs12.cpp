// The PKCS#12 credential: argument and file checks in their order, MAC and
// password failures, validity, key usage and the signer filter.
#include <cstdlib>
#include <ctime>
#include <string>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "cError.h"
#include "cPkcs12.h"
#include "sign_test_support.h"

using namespace signtest;

namespace {

class Pkcs12Test : public EngineTest {
protected:
    const Pki& pki = Pki::get();
    std::string dir() const { return pki["pfx_dir"]; }
    // Loads one of the fixture's PKCS#12 files with the right password.
    void load(const std::string& key) {
        ASSERT_EQ(p12.loadPfxFile(dir().c_str(), Pki::nameOf(pki[key]).c_str(), pki["password"].c_str()), 0);
    }
    cPkcs12 p12;
};

struct ArgCase {
    const char* name;
    const char* path;      // "<dir>" stands for the fixture's folder
    const char* file;
    const char* password;  // "<pw>" stands for the right password
    int code;
    const char* error;     // the ERROR line's message (UTF-8)
};

const ArgCase kArgCases[] = {
    {"NullFolder", nullptr, "user.pfx", "<pw>", 5005, "參數 filePath 內容為 NULL"},
    {"AllEmptyReportsFolder", "", "", "", 5005, "參數 filePath 長度為 0"},
    {"NullFileName", "<dir>", nullptr, "<pw>", 5005, "參數 fileName 內容為 NULL"},
    {"EmptyFileName", "<dir>", "", "", 5005, "參數 fileName 長度為 0"},
    {"MissingFileBeforeEmptyPassword", "<dir>", "missing.pfx", "", 1102, "憑證檔不存在, 檔名"},
    {"NullPassword", "<dir>", "user.pfx", nullptr, 5005, "參數 pfxPasswd 內容為 NULL"},
    {"EmptyPassword", "<dir>", "user.pfx", "", 5005, "參數 pfxPasswd 長度為 0"},
};

class Pkcs12Args : public Pkcs12Test, public ::testing::WithParamInterface<ArgCase> {};

TEST_P(Pkcs12Args, CheckedInOrder) {
    const ArgCase& c = GetParam();
    const std::string folder = c.path && std::string(c.path) == "<dir>" ? dir() : std::string(c.path ? c.path : "");
    const std::string pw = c.password && std::string(c.password) == "<pw>" ? pki["password"] : std::string(c.password ? c.password : "");
    LogCapture log;
    EXPECT_EQ(p12.loadPfxFile(c.path ? folder.c_str() : nullptr, c.file, c.password ? pw.c_str() : nullptr), c.code);
    const std::string error = big5(c.error);
    if (c.code == 1102)
        EXPECT_TRUE(log.has("ERROR", error + " = " + dir() + "/" + c.file)) << log.dump("ERROR");
    else
        EXPECT_TRUE(log.has("ERROR", error)) << log.dump("ERROR");
    EXPECT_EQ(p12.getCertificate(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Pkcs12, Pkcs12Args, ::testing::ValuesIn(kArgCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Every PKCS#12 file of the fixture, good and broken, with the code it loads
// with: the engine tests' one statement of the matrix (the facade's tests
// take one case of each code from it).
struct FileCase {
    const char* key;
    const char* password;  // nullptr: the right one
    int code;
};

class Pkcs12Files : public Pkcs12Test, public ::testing::WithParamInterface<FileCase> {};

TEST_P(Pkcs12Files, LoadGivesCode) {
    const FileCase& c = GetParam();
    const std::string pw = c.password ? c.password : pki["password"];
    LogCapture log;
    EXPECT_EQ(p12.loadPfxFile(dir().c_str(), Pki::nameOf(pki[c.key]).c_str(), pw.c_str()), c.code);
    if (c.code == 0) {
        EXPECT_NE(p12.getCertificate(), nullptr);
        EXPECT_NE(p12.getPrivateKey(), nullptr);
    } else {
        EXPECT_EQ(p12.getCertificate(), nullptr);
        EXPECT_EQ(p12.getPrivateKey(), nullptr);
        EXPECT_FALSE(log.bodies("ERROR").empty());
        // A failed load leaves nothing to check or sign with.
        EXPECT_EQ(p12.checkCertValid(), 5010);
        EXPECT_EQ(p12.checkKeyUsageForSign(), 5010);
        EXPECT_EQ(p12.checkSignerFilter("//S_C=TW//"), 5010);
    }
    EXPECT_TRUE(log.has("DEBUG", "end cPkcs12::loadPfxFile() = " + cLog::format("0x%08X(%d)", c.code, c.code)));
}

INSTANTIATE_TEST_SUITE_P(Pkcs12, Pkcs12Files,
                         ::testing::Values(FileCase{"pfx_user", nullptr, 0}, FileCase{"pfx_legacy", nullptr, 0},
                                           FileCase{"pfx_with_ca", nullptr, 0},
                                           FileCase{"pfx_user", "not-the-password", 5208},
                                           FileCase{"pfx_legacy", "not-the-password", 5208},
                                           FileCase{"pfx_bad_mac", nullptr, 5208},
                                           FileCase{"pfx_truncated", nullptr, 1102},
                                           FileCase{"pfx_garbage", nullptr, 1102},
                                           FileCase{"pfx_empty", nullptr, 1102},
                                           FileCase{"pfx_folder", nullptr, 1102}),
                         [](const auto& info) {
                             std::string n = std::string(info.param.key) + (info.param.password ? "_wrong_password" : "");
                             return n;
                         });

TEST_F(Pkcs12Test, FifoAsCertificateIsRefusedWithoutWaiting) {
    TempDir tmp;
    ASSERT_EQ(::mkfifo((tmp / "user.pfx").c_str(), 0600), 0);
    LogCapture log;
    EXPECT_EQ(p12.loadPfxFile(tmp.path().c_str(), "user.pfx", pki["password"].c_str()), 1102);
    EXPECT_TRUE(log.has("ERROR", big5("無法開啟憑證檔, 檔名") + " = " + (tmp / "user.pfx"))) << log.dump("ERROR");
    EXPECT_EQ(p12.getCertificate(), nullptr);
}

TEST_F(Pkcs12Test, KeepsTheFurtherCertificatesOfTheFile) {
    load("pfx_with_ca");
    EXPECT_EQ(p12.countExtraCertificates(), 2);
    load("pfx_user");
    EXPECT_EQ(p12.countExtraCertificates(), 0);
}

TEST_F(Pkcs12Test, FailedReloadEmptiesTheObject) {
    load("pfx_user");
    EXPECT_EQ(p12.loadPfxFile(dir().c_str(), "user.pfx", "wrong"), 5208);
    EXPECT_EQ(p12.getCertificate(), nullptr);
    EXPECT_EQ(p12.checkCertValid(), 5010);
}

// ---- validity ----------------------------------------------------------------------

TEST_F(Pkcs12Test, ValidityOfTheFixtureCertificates) {
    struct {
        const char* key;
        int code;
        const char* error;
    } cases[] = {{"pfx_user", 0, nullptr},
                 {"pfx_user_expired", 5011, "驗憑證效期 : 憑證 已過期"},
                 {"pfx_user_notyet", 5012, "驗憑證效期 : 憑證 未生效"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        load(c.key);
        LogCapture log;
        EXPECT_EQ(p12.checkCertValid(), c.code);
        if (c.error) {
            EXPECT_TRUE(log.has("ERROR", big5(c.error))) << log.dump("ERROR");
        }
        EXPECT_TRUE(log.hasPrefix("DEBUG", big5("憑證生效日") + " = 20"));
        EXPECT_TRUE(log.hasPrefix("DEBUG", big5("憑證到期日") + " = 20"));
    }
}

TEST(Pkcs12Validity, BothEndsInclusive) {
    const std::string nb = "20240105000000", na = "20250105235959";
    EXPECT_EQ(cPkcs12::validityCode("20240105000000", nb, na), 0);
    EXPECT_EQ(cPkcs12::validityCode("20250105235959", nb, na), 0);
    EXPECT_EQ(cPkcs12::validityCode("20240104235959", nb, na), 5012);
    EXPECT_EQ(cPkcs12::validityCode("20250106000000", nb, na), 5011);
}

// The certificate's times are UTC: the current time is taken in UTC whatever
// the local time zone. One certificate starts 4 hours from now, one ended 4
// hours ago; a local clock 8 hours off would take either for valid.
TEST_F(Pkcs12Test, ComparesWithUtcNotLocalTime) {
    const char* savedTz = std::getenv("TZ");
    const std::string saved = savedTz ? savedTz : "";
    setenv("TZ", "Asia/Taipei", 1);
    tzset();
    load("pfx_user_soon");
    EXPECT_EQ(p12.checkCertValid(), 5012);
    setenv("TZ", "America/Los_Angeles", 1);
    tzset();
    load("pfx_user_just_expired");
    EXPECT_EQ(p12.checkCertValid(), 5011);
    if (savedTz) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
    tzset();
}

// ---- key usage -----------------------------------------------------------------------

TEST_F(Pkcs12Test, KeyUsageAllowsSigningWithDigitalSignatureOrNonRepudiation) {
    struct {
        const char* key;
        int usage;
        int code;
    } cases[] = {{"pfx_user", 0xC0, 0}, {"pfx_user_nonrep", 0x40, 0}, {"pfx_user_keyenc", 0x20, 5017},
                 {"pfx_user_noku", 0, 5017}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        load(c.key);
        LogCapture log;
        EXPECT_EQ(p12.checkKeyUsageForSign(), c.code);
        EXPECT_TRUE(log.has("DEBUG", big5("憑證用途(KeyUsage)") + " = " + cLog::format("0x%08X(%d)", c.usage, c.usage)))
            << log.dump("DEBUG");
    }
}

// ---- signer filter ---------------------------------------------------------------------
// Subject: /C=TW/O=Bank A/O=Bank B/OU=Securities/OU=Branch 01/CN=Wang Ming
// Issuer:  /C=TW/O=Orvane Test/OU=Certification Services/CN=Orvane Test User CA

struct FilterCase {
    const char* name;
    const char* filter;
    int code;
    const char* error;  // ERROR line expected on failure: message and value
};

const FilterCase kFilterCases[] = {
    {"Empty", "", 0, nullptr},
    {"SubjectCountry", "//S_C=TW//", 0, nullptr},
    {"SubjectCountryOther", "//S_C=US//", 5010, "找不到憑證條件(S_C) = US"},
    {"SubjectCountryCaseSensitive", "//S_C=tw//", 5010, "找不到憑證條件(S_C) = tw"},
    {"SubjectBothOrganisations", "//S_O=Bank A,S_O=Bank B//", 0, nullptr},
    {"SubjectOrganisationMissing", "//S_O=Bank A,S_O=Bank C//", 5010, "找不到憑證條件(S_O) = Bank C"},
    {"SubjectOrganisationIsEquality", "//S_O=Bank//", 5010, "找不到憑證條件(S_O) = Bank"},
    {"SubjectEmptyOrganisationIsAValue", "//S_O=//", 5010, "找不到憑證條件(S_O) = "},
    {"SubjectUnits", "//S_OU=Securities,S_OU=Branch 01//", 0, nullptr},
    {"SubjectUnitIsEquality", "//S_OU=Secur//", 5010, "找不到憑證條件(S_OU) = Secur"},
    {"SubjectNameContains", "//S_CN=Wang//", 0, nullptr},
    {"SubjectNameWhole", "//S_CN=Wang Ming//", 0, nullptr},
    {"SubjectNameNotContained", "//S_CN=Ming Wang//", 5010, "找不到憑證條件(S_CN) = Ming Wang"},
    {"EmptyOneValueKeysPlaceNoRequirement", "//S_C=,S_CN=,I_C=,I_CN=//", 0, nullptr},
    {"IssuerCountry", "//I_C=TW//", 0, nullptr},
    {"IssuerCountryOther", "//I_C=JP//", 5010, "找不到憑證條件(I_C) = JP"},
    {"IssuerOrganisation", "//I_O=Orvane Test//", 0, nullptr},
    {"IssuerOrganisationIsEquality", "//I_O=Orvane//", 5010, "找不到憑證條件(I_O) = Orvane"},
    {"IssuerUnit", "//I_OU=Certification Services//", 0, nullptr},
    {"IssuerUnitOther", "//I_OU=Other//", 5010, "找不到憑證條件(I_OU) = Other"},
    {"IssuerNameEqual", "//I_CN=Orvane Test User CA//", 0, nullptr},
    {"IssuerNameIsEqualityNotContainment", "//I_CN=User CA//", 5010, "找不到憑證條件(I_CN) = User CA"},
    {"SecondConditionHolds", "//S_C=US//S_C=TW//", 0, nullptr},
    {"NoConditionHolds", "//S_C=US//I_C=JP//", 5010, nullptr},
    {"AllKeysInOneCondition",
     "//S_C=TW,S_O=Bank B,S_OU=Branch 01,S_CN=Ming,I_C=TW,I_O=Orvane Test,I_OU=Certification Services,"
     "I_CN=Orvane Test User CA//",
     0, nullptr},
    {"SubjectHoldsIssuerFails", "//S_C=TW,I_C=US//", 5010, "找不到憑證條件(I_C) = US"},
    {"TextOutsideMarkersIgnored", "S_C=US//S_C=TW//S_C=US", 0, nullptr},
    {"NoClosingMarker", "//S_C=TW", 5010, nullptr},
    {"NoMarkers", "S_C=TW", 5010, nullptr},
    {"EmptyConditionHolds", "////", 0, nullptr},
};

class SignerFilter : public Pkcs12Test, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(SignerFilter, Decides) {
    const FilterCase& c = GetParam();
    load("pfx_user");
    LogCapture log;
    EXPECT_EQ(p12.checkSignerFilter(c.filter), c.code);
    if (c.error) {
        const std::string e = c.error;
        const auto eq = e.find(" = ");
        EXPECT_TRUE(log.has("ERROR", big5(e.substr(0, eq).c_str()) + e.substr(eq))) << log.dump("ERROR");
    }
    if (*c.filter != '\0') {
        EXPECT_TRUE(log.has("PARAM", std::string("signerFilter = ") + c.filter));
        EXPECT_TRUE(log.has("DEBUG", "end cPkcs12::checkSignerFilter() = " + cLog::format("0x%08X(%d)", c.code, c.code)));
    }
}

INSTANTIATE_TEST_SUITE_P(Pkcs12, SignerFilter, ::testing::ValuesIn(kFilterCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Pkcs12Test, NullFilterAndNoCertificate) {
    EXPECT_EQ(p12.checkSignerFilter(nullptr), 5010);  // no certificate yet
    load("pfx_user");
    EXPECT_EQ(p12.checkSignerFilter(nullptr), 0);
}

TEST_F(Pkcs12Test, EmptyFilterLooksAtNoName) {
    load("pfx_user");
    LogCapture log;
    EXPECT_EQ(p12.checkSignerFilter(""), 0);
    EXPECT_TRUE(log.bodies("DEBUG").empty()) << log.dump("DEBUG");
}

TEST(Pkcs12Parse, ConditionsBetweenMarkers) {
    using V = std::vector<std::string>;
    EXPECT_EQ(cPkcs12::splitConditions("//a//b//"), (V{"a", "b"}));
    EXPECT_EQ(cPkcs12::splitConditions("x//a//y"), (V{"a"}));
    EXPECT_EQ(cPkcs12::splitConditions("//a"), V{});
    EXPECT_EQ(cPkcs12::splitConditions("////"), (V{""}));
    EXPECT_EQ(cPkcs12::splitConditions(""), V{});
}

TEST(Pkcs12Parse, FilterAndNameValues) {
    EXPECT_EQ(cPkcs12::parseFilterName("S_C=TW,S_CN=Wang", "S_CN="), "Wang");
    EXPECT_EQ(cPkcs12::parseFilterName("S_C=TW,S_CN=Wang", "I_CN="), "");
    std::set<std::string> values;
    cPkcs12::parseFilterNames("S_O=a,S_OU=x,S_O=b,S_O=a", "S_O=", values);
    EXPECT_EQ(values, (std::set<std::string>{"a", "b"}));
    values.clear();
    cPkcs12::parseCertDistingNames("/C=TW/O=Bank A/OU=Sec/O=Bank B/CN=W", "O=", values);
    EXPECT_EQ(values, (std::set<std::string>{"Bank A", "Bank B"}));
    EXPECT_EQ(cPkcs12::parseCertDistingName("/C=TW/O=Bank A/CN=Wang Ming", "CN="), "Wang Ming");
    EXPECT_EQ(cPkcs12::parseCertDistingName("/C=TW/O=Bank A", "CN="), "");
}

}  // namespace
