// Certificate field renderings and the time text of ASN.1 times.
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <gtest/gtest.h>

#include "cSslPtr.h"
#include "cX509.h"
#include "engine_test_support.h"

using namespace enginetest;

namespace {

AsnStringPtr asn1Time(int type, const char* text) {
    AsnStringPtr s(ASN1_STRING_type_new(type));
    if (s) ASN1_STRING_set(s.get(), text, -1);
    return s;
}

void addName(X509_NAME* name, const char* field, const char* value) {
    X509_NAME_add_entry_by_txt(name, field, MBSTRING_ASC, reinterpret_cast<const unsigned char*>(value), -1, -1, 0);
}

// A signed certificate with every extension the renderings read.
X509Ptr makeCertificate(bool withExtensions) {
    EvpPkeyPtr key(EVP_EC_gen("P-256"));
    X509Ptr cert(X509_new());
    if (!key || !cert) return nullptr;
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 0x1234);
    X509_NAME* subject = X509_get_subject_name(cert.get());
    addName(subject, "C", "TW");
    addName(subject, "O", "Bank A");
    addName(subject, "OU", "Unit");
    addName(subject, "CN", "Wang Ming");
    addName(subject, "CN", "Second CN");
    X509_NAME* issuer = X509_get_issuer_name(cert.get());
    addName(issuer, "C", "TW");
    addName(issuer, "O", "Test CA");
    if (withExtensions) addName(issuer, "CN", "Root Authority");
    ASN1_TIME_set_string(X509_getm_notBefore(cert.get()), "240105093000Z");
    ASN1_TIME_set_string(X509_getm_notAfter(cert.get()), "20510101000000Z");
    X509_set_pubkey(cert.get(), key.get());
    if (withExtensions) {
        AsnStringPtr ski(ASN1_OCTET_STRING_new());
        ASN1_OCTET_STRING_set(ski.get(), reinterpret_cast<const unsigned char*>("\x0a\xbc\xff\x01"), 4);
        X509_add1_ext_i2d(cert.get(), NID_subject_key_identifier, ski.get(), 0, 0);

        cSslPtr<AUTHORITY_KEYID, AUTHORITY_KEYID_free> aki(AUTHORITY_KEYID_new());
        aki->keyid = ASN1_OCTET_STRING_new();
        ASN1_OCTET_STRING_set(aki->keyid, reinterpret_cast<const unsigned char*>("\xde\xad\xbe\xef"), 4);
        X509_add1_ext_i2d(cert.get(), NID_authority_key_identifier, aki.get(), 0, 0);

        cSslPtr<STACK_OF(DIST_POINT), cSslFreeDistPoints> points(sk_DIST_POINT_new_null());
        DIST_POINT* full = DIST_POINT_new();
        full->distpoint = DIST_POINT_NAME_new();
        full->distpoint->type = 0;
        full->distpoint->name.fullname = sk_GENERAL_NAME_new_null();
        for (const char* uri : {"http://crl.example/a.crl", "ldap://crl.example/b"}) {
            GENERAL_NAME* gn = GENERAL_NAME_new();
            ASN1_IA5STRING* ia5 = ASN1_IA5STRING_new();
            ASN1_STRING_set(ia5, uri, -1);
            GENERAL_NAME_set0_value(gn, GEN_URI, ia5);
            sk_GENERAL_NAME_push(full->distpoint->name.fullname, gn);
        }
        sk_DIST_POINT_push(points.get(), full);
        DIST_POINT* relative = DIST_POINT_new();
        relative->distpoint = DIST_POINT_NAME_new();
        relative->distpoint->type = 1;
        relative->distpoint->name.relativename = sk_X509_NAME_ENTRY_new_null();
        sk_X509_NAME_ENTRY_push(relative->distpoint->name.relativename,
                                X509_NAME_ENTRY_create_by_txt(nullptr, "CN", MBSTRING_ASC,
                                                              reinterpret_cast<const unsigned char*>("crl1"), -1));
        sk_DIST_POINT_push(points.get(), relative);
        X509_add1_ext_i2d(cert.get(), NID_crl_distribution_points, points.get(), 0, 0);
    }
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) <= 0) return nullptr;
    return cert;
}

// Runs the openssl command on the certificate as an independent reading.
std::string opensslField(X509* cert, const std::string& options) {
    TempDir dir;
    const std::string pem = dir / "cert.pem";
    FILE* f = std::fopen(pem.c_str(), "w");
    if (f == nullptr) return std::string();
    PEM_write_X509(f, cert);
    std::fclose(f);
    std::string out = runCommand("openssl x509 -noout " + options + " -in '" + pem + "'");
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

}  // namespace

TEST(X509Renderings, FieldsOfACertificate) {
    X509Ptr original = makeCertificate(true);
    ASSERT_TRUE(original);
    cX509 cert(original.get());
    ASSERT_NE(cert.get(), nullptr);
    EXPECT_NE(cert.get(), original.get());   // its own copy
    original.reset();

    EXPECT_EQ(cert.getSubjectName(), "/C=TW/O=Bank A/OU=Unit/CN=Wang Ming/CN=Second CN");
    EXPECT_EQ(cert.getIssuerName(), "/C=TW/O=Test CA/CN=Root Authority");
    EXPECT_EQ("subject=" + cert.getSubjectName(), opensslField(cert.get(), "-subject -nameopt compat"));
    EXPECT_EQ(cert.getSubjectCN(), "Wang Ming");
    EXPECT_EQ(cert.getIssuerCN(), "Root Authority");
    EXPECT_EQ(cert.getSKI(), "0ABCFF01");
    EXPECT_EQ(cert.getAKI(), "DEADBEEF");
    EXPECT_EQ(cert.getCrlDistributionPoints(),
              (std::vector<std::string>{"http://crl.example/a.crl", "ldap://crl.example/b", "crl1"}));
    EXPECT_EQ(cert.getNotBefore(), "20240105093000");
    EXPECT_EQ(cert.getNotAfter(), "20510101000000");

    std::string fingerprint = opensslField(cert.get(), "-fingerprint -sha1");
    fingerprint = fingerprint.substr(fingerprint.find('=') + 1);
    std::string plain;
    for (char c : fingerprint)
        if (c != ':') plain += c;
    EXPECT_EQ(cert.getThumbprint(), plain);
    EXPECT_EQ(cert.getThumbprint().size(), 40u);
}

TEST(X509Renderings, AbsentFieldsAreEmpty) {
    X509Ptr original = makeCertificate(false);
    ASSERT_TRUE(original);
    cX509 cert(original.get());
    EXPECT_EQ(cert.getIssuerCN(), "");
    EXPECT_EQ(cert.getSKI(), "");
    EXPECT_EQ(cert.getAKI(), "");
    EXPECT_TRUE(cert.getCrlDistributionPoints().empty());
}

TEST(X509Renderings, NullCertificate) {
    cX509 cert(nullptr);
    EXPECT_EQ(cert.get(), nullptr);
    EXPECT_EQ(cert.getSubjectName(), "");
    EXPECT_EQ(cert.getThumbprint(), "");
    EXPECT_EQ(cert.getNotAfter(), "");
    EXPECT_TRUE(cert.getCrlDistributionPoints().empty());
}

TEST(X509Renderings, LongNamesAreCutAt511Bytes) {
    X509Ptr cert(X509_new());
    // An attribute without a length bound; the second does not fit any more.
    const std::string longValue(400, 'x');
    addName(X509_get_subject_name(cert.get()), "1.2.3.4", longValue.c_str());
    addName(X509_get_subject_name(cert.get()), "1.2.3.5", longValue.c_str());
    const std::string name = cX509::subjectName(cert.get());
    EXPECT_LE(name.size(), 511u);
    EXPECT_EQ(name, "/1.2.3.4=" + longValue);
}

struct TimeCase {
    const char* name;
    int type;
    const char* asn1;
    const char* text;
};

class TimeText : public ::testing::TestWithParam<TimeCase> {};

TEST_P(TimeText, Renders) {
    AsnStringPtr t = asn1Time(GetParam().type, GetParam().asn1);
    ASSERT_TRUE(t);
    EXPECT_EQ(cX509::timeText(t.get()), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Times, TimeText,
    ::testing::Values(TimeCase{"utc2049", V_ASN1_UTCTIME, "491231235959Z", "20491231235959"},
                      TimeCase{"utc1970", V_ASN1_UTCTIME, "700101000000Z", "19700101000000"},
                      TimeCase{"utc2069", V_ASN1_UTCTIME, "690615120000Z", "20690615120000"},
                      TimeCase{"utc1999", V_ASN1_UTCTIME, "991231235959Z", "19991231235959"},
                      TimeCase{"generalized", V_ASN1_GENERALIZEDTIME, "20240105093000Z", "20240105093000"},
                      TimeCase{"generalizedFar", V_ASN1_GENERALIZEDTIME, "21060207062816Z", "21060207062816"},
                      TimeCase{"generalized1950", V_ASN1_GENERALIZEDTIME, "19500101000000Z", "19500101000000"},
                      // Fields out of range are normalised as calendar dates.
                      TimeCase{"month13", V_ASN1_UTCTIME, "241301000000Z", "20250101000000"},
                      TimeCase{"february30", V_ASN1_UTCTIME, "240230120000Z", "20240301120000"},
                      TimeCase{"second60", V_ASN1_GENERALIZEDTIME, "20491231235960Z", "20500101000000"},
                      TimeCase{"otherType", V_ASN1_IA5STRING, "20240105093000Z", "00000000000000"},
                      TimeCase{"tooShort", V_ASN1_UTCTIME, "4912", ""},
                      TimeCase{"generalizedTooShort", V_ASN1_GENERALIZEDTIME, "202401050930", ""}),
    [](const ::testing::TestParamInfo<TimeCase>& info) { return std::string(info.param.name); });

TEST(TimeTextZone, NoDaylightSavingShift) {
    // 02:30 on 10 March 2024 does not exist in US Eastern time; the text still
    // shows the time as written.
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
    tzset();
    AsnStringPtr t = asn1Time(V_ASN1_UTCTIME, "240310023000Z");
    const std::string text = cX509::timeText(t.get());
    if (old) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
    tzset();
    EXPECT_EQ(text, "20240310023000");
}

TEST(TimeText, NullIsEmpty) {
    EXPECT_EQ(cX509::timeText(nullptr), "");
}

TEST(TimeTextZone, CurrentTimeIsUtc) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "CST-8", 1);   // Taipei, eight hours ahead of UTC
    tzset();
    const time_t before = std::time(nullptr);
    const std::string text = cX509::currentTimeText();
    const time_t after = std::time(nullptr);
    if (old) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
    tzset();
    ASSERT_EQ(text.size(), 14u);
    struct tm t = {};
    t.tm_year = std::stoi(text.substr(0, 4)) - 1900;
    t.tm_mon = std::stoi(text.substr(4, 2)) - 1;
    t.tm_mday = std::stoi(text.substr(6, 2));
    t.tm_hour = std::stoi(text.substr(8, 2));
    t.tm_min = std::stoi(text.substr(10, 2));
    t.tm_sec = std::stoi(text.substr(12, 2));
    const time_t parsed = timegm(&t);
    EXPECT_GE(parsed, before);
    EXPECT_LE(parsed, after);
}
