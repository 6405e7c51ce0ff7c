#include "cX509.h"

#include <cstdio>
#include <ctime>

#include <openssl/err.h>

#include "cChars.h"
#include "cPlatformTime.h"
#include "cSslPtr.h"

namespace {

// Extensions that do not decode render as absent; the errors their decoding
// pushes onto OpenSSL's queue are dropped with them, so that no stale error is
// left for the next libcrypto user of the thread.  Errors queued before the
// rendering stay.
class ErrorMark {
public:
    ErrorMark() { ERR_set_mark(); }
    ~ErrorMark() { ERR_pop_to_mark(); }
    ErrorMark(const ErrorMark&) = delete;
    ErrorMark& operator=(const ErrorMark&) = delete;
};

std::string hexUpper(const unsigned char* bytes, int count) {
    if (bytes == nullptr || count < 1) return std::string();
    cChars hex;
    return hex.hexEncode(bytes, count) ? hex.toString() : std::string();
}

std::string stringBytes(const ASN1_STRING* s) {
    if (s == nullptr) return std::string();
    const unsigned char* data = ASN1_STRING_get0_data(s);
    const int length = ASN1_STRING_length(s);
    if (data == nullptr || length <= 0) return std::string();
    return std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(length));
}

std::string generalNameText(const GENERAL_NAME* name) {
    if (name == nullptr) return std::string();
    int type = 0;
    void* value = GENERAL_NAME_get0_value(name, &type);
    switch (type) {
    case GEN_URI:
    case GEN_DNS:
    case GEN_EMAIL:
        return stringBytes(static_cast<const ASN1_STRING*>(value));
    case GEN_DIRNAME:
        return cX509::nameOneLine(static_cast<const X509_NAME*>(value));
    default: {
        BioPtr bio(BIO_new(BIO_s_mem()));
        if (!bio || GENERAL_NAME_print(bio.get(), const_cast<GENERAL_NAME*>(name)) <= 0) return std::string();
        char* text = nullptr;
        const long length = BIO_get_mem_data(bio.get(), &text);
        return length > 0 && text ? std::string(text, static_cast<size_t>(length)) : std::string();
    }
    }
}

// Two decimal digits at p, not validated (any byte counts as digit - '0').
int twoDigits(const unsigned char* p) {
    return (p[0] - '0') * 10 + (p[1] - '0');
}

}  // namespace

cX509::cX509(const X509* cert) {
    if (cert != nullptr) certificate.reset(X509_dup(const_cast<X509*>(cert)));
}

cX509::~cX509() = default;

std::string cX509::nameOneLine(const X509_NAME* name) {
    if (name == nullptr) return std::string();
    char buf[512];
    buf[0] = '\0';
    if (X509_NAME_oneline(name, buf, sizeof buf) == nullptr) return std::string();
    return std::string(buf);
}

std::string cX509::issuerName(const X509* cert) {
    return cert ? nameOneLine(X509_get_issuer_name(cert)) : std::string();
}

std::string cX509::subjectName(const X509* cert) {
    return cert ? nameOneLine(X509_get_subject_name(cert)) : std::string();
}

std::string cX509::commonName(const X509_NAME* name) {
    if (name == nullptr) return std::string();
    const int index = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
    if (index < 0) return std::string();
    const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, index);
    return entry ? stringBytes(X509_NAME_ENTRY_get_data(entry)) : std::string();
}

std::string cX509::subjectCN(const X509* cert) {
    return cert ? commonName(X509_get_subject_name(cert)) : std::string();
}

std::string cX509::issuerCN(const X509* cert) {
    return cert ? commonName(X509_get_issuer_name(cert)) : std::string();
}

std::string cX509::subjectKeyId(const X509* cert) {
    if (cert == nullptr) return std::string();
    ErrorMark mark;
    AsnStringPtr ski(static_cast<ASN1_OCTET_STRING*>(
        X509_get_ext_d2i(cert, NID_subject_key_identifier, nullptr, nullptr)));
    if (!ski) return std::string();
    return hexUpper(ASN1_STRING_get0_data(ski.get()), ASN1_STRING_length(ski.get()));
}

std::string cX509::authorityKeyId(const X509* cert) {
    if (cert == nullptr) return std::string();
    ErrorMark mark;
    cSslPtr<AUTHORITY_KEYID, AUTHORITY_KEYID_free> aki(static_cast<AUTHORITY_KEYID*>(
        X509_get_ext_d2i(cert, NID_authority_key_identifier, nullptr, nullptr)));
    if (!aki || aki->keyid == nullptr) return std::string();
    return hexUpper(ASN1_STRING_get0_data(aki->keyid), ASN1_STRING_length(aki->keyid));
}

std::vector<std::string> cX509::crlDistributionPoints(const X509* cert) {
    std::vector<std::string> points;
    if (cert == nullptr) return points;
    ErrorMark mark;
    try {
        cSslPtr<STACK_OF(DIST_POINT), cSslFreeDistPoints> dps(static_cast<STACK_OF(DIST_POINT)*>(
            X509_get_ext_d2i(cert, NID_crl_distribution_points, nullptr, nullptr)));
        if (!dps) return points;
        for (int i = 0; i < sk_DIST_POINT_num(dps.get()); ++i) {
            const DIST_POINT* dp = sk_DIST_POINT_value(dps.get(), i);
            if (dp == nullptr || dp->distpoint == nullptr) continue;
            const DIST_POINT_NAME* dpn = dp->distpoint;
            if (dpn->type == 0 && dpn->name.fullname != nullptr) {
                for (int k = 0; k < sk_GENERAL_NAME_num(dpn->name.fullname); ++k)
                    points.push_back(generalNameText(sk_GENERAL_NAME_value(dpn->name.fullname, k)));
            } else if (dpn->type == 1 && dpn->name.relativename != nullptr) {
                for (int k = 0; k < sk_X509_NAME_ENTRY_num(dpn->name.relativename); ++k) {
                    const X509_NAME_ENTRY* entry = sk_X509_NAME_ENTRY_value(dpn->name.relativename, k);
                    points.push_back(entry ? stringBytes(X509_NAME_ENTRY_get_data(entry)) : std::string());
                }
            }
        }
    } catch (...) {
        points.clear();
    }
    return points;
}

std::string cX509::thumbprint(const X509* cert) {
    if (cert == nullptr) return std::string();
    ErrorMark mark;
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(cert, EVP_sha1(), md, &length) != 1) return std::string();
    return hexUpper(md, static_cast<int>(length));
}

std::string cX509::notBefore(const X509* cert) {
    return cert ? timeText(X509_get0_notBefore(cert)) : std::string();
}

std::string cX509::notAfter(const X509* cert) {
    return cert ? timeText(X509_get0_notAfter(cert)) : std::string();
}

std::string cX509::timeText(const ASN1_TIME* time) {
    if (time == nullptr) return std::string();
    const int type = ASN1_STRING_type(time);
    const unsigned char* d = ASN1_STRING_get0_data(time);
    const int length = ASN1_STRING_length(time);
    struct tm t = {};
    if (type == V_ASN1_UTCTIME) {
        if (d == nullptr || length < 12) return std::string();
        const int yy = twoDigits(d);
        t.tm_year = (yy < 70 ? 2000 + yy : 1900 + yy) - 1900;
        d += 2;
    } else if (type == V_ASN1_GENERALIZEDTIME) {
        if (d == nullptr || length < 14) return std::string();
        t.tm_year = twoDigits(d) * 100 + twoDigits(d + 2) - 1900;
        d += 4;
    } else {
        return "00000000000000";
    }
    t.tm_mon = twoDigits(d) - 1;
    t.tm_mday = twoDigits(d + 2);
    t.tm_hour = twoDigits(d + 4);
    t.tm_min = twoDigits(d + 6);
    t.tm_sec = twoDigits(d + 8);
    // Normalise out-of-range fields as calendar arithmetic; UTC rules, so no
    // daylight-saving shift can alter the time as written.
    const time_t when = cUtcToTime(t);
    struct tm norm = {};
    if (!cTimeToUtc(when, norm)) return std::string();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", norm.tm_year + 1900, norm.tm_mon + 1, norm.tm_mday,
                  norm.tm_hour, norm.tm_min, norm.tm_sec);
    return std::string(buf);
}

std::string cX509::currentTimeText() {
    const time_t now = std::time(nullptr);
    struct tm utc = {};
    if (!cTimeToUtc(now, utc)) return std::string();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                  utc.tm_hour, utc.tm_min, utc.tm_sec);
    return std::string(buf);
}
