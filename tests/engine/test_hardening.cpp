// Regression tests for what the fuzzers found in the engine: each case is an
// input shape that once misbehaved.
#include <cstdio>
#include <memory>
#include <string>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <gtest/gtest.h>

#include "cLog.h"
#include "cSslPtr.h"
#include "cX509.h"

namespace {

// A certificate whose key-identifier and distribution-point extensions hold
// bytes that do not decode (a chain file may carry such a certificate).
X509Ptr certificateWithBrokenExtensions() {
    EvpPkeyPtr key(EVP_EC_gen("P-256"));
    X509Ptr cert(X509_new());
    if (!key || !cert) return nullptr;
    X509_set_version(cert.get(), 2);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(cert.get()), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Broken"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), X509_get_subject_name(cert.get()));
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600);
    X509_set_pubkey(cert.get(), key.get());
    static const unsigned char garbage[] = {0x30, 0x84, 0xff, 0xff, 0xff, 0xff, 0x80, 0x01};
    for (int nid : {NID_subject_key_identifier, NID_authority_key_identifier, NID_crl_distribution_points}) {
        AsnStringPtr value(ASN1_OCTET_STRING_new());
        ASN1_OCTET_STRING_set(value.get(), garbage, sizeof garbage);
        cSslPtr<X509_EXTENSION, X509_EXTENSION_free> ext(X509_EXTENSION_create_by_NID(nullptr, nid, 0, value.get()));
        X509_add_ext(cert.get(), ext.get(), -1);
    }
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) <= 0) return nullptr;
    return cert;
}

}  // namespace

// Found by fuzz_p7b: rendering the key identifiers of a chain certificate with
// a broken extension left OpenSSL's decoding errors queued after the call.
TEST(Hardening, BrokenExtensionsRenderEmptyAndLeaveNoQueuedError) {
    X509Ptr cert = certificateWithBrokenExtensions();
    ASSERT_TRUE(cert);
    ERR_clear_error();
    EXPECT_EQ(cX509::subjectKeyId(cert.get()), "");
    EXPECT_EQ(ERR_peek_error(), 0UL);
    EXPECT_EQ(cX509::authorityKeyId(cert.get()), "");
    EXPECT_EQ(ERR_peek_error(), 0UL);
    EXPECT_TRUE(cX509::crlDistributionPoints(cert.get()).empty());
    EXPECT_EQ(ERR_peek_error(), 0UL);
    EXPECT_EQ(cX509::thumbprint(cert.get()).size(), 40u);
    EXPECT_EQ(ERR_peek_error(), 0UL);
}

// An error the caller queued before a rendering stays queued.
TEST(Hardening, RenderingKeepsTheCallersQueuedErrors) {
    X509Ptr cert = certificateWithBrokenExtensions();
    ASSERT_TRUE(cert);
    ERR_clear_error();
    ERR_raise(ERR_LIB_USER, 42);
    (void)cX509::authorityKeyId(cert.get());
    EXPECT_EQ(ERR_GET_REASON(ERR_peek_error()), 42);
    EXPECT_EQ(ERR_peek_last_error(), ERR_peek_error());
    ERR_clear_error();
}

// Found while checking memory over long runs: with a log folder that cannot be
// created, every line stayed in memory for the life of the process.  The lines
// kept in memory now stop at kPendingLimit bytes, the first ones kept.
TEST(Hardening, LinesWithoutALogFolderStayBounded) {
    cLog log;
    log.setLevel("DEBUG");
    EXPECT_FALSE(log.createFolder("/proc/no-such-folder/logs", "seal.log"));
    const std::string value(200, 'v');
    for (int i = 0; i < 20000; ++i) log.writeText(LOG_TAG_DEBUG, i == 0 ? "first line" : "later line", value);
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    log.flushPending(out);
    const long size = std::ftell(out);
    std::rewind(out);
    char head[512] = {0};
    const size_t got = std::fread(head, 1, sizeof head - 1, out);
    std::fclose(out);
    EXPECT_GT(size, 0);
    EXPECT_LE(static_cast<size_t>(size), cLog::kPendingLimit);
    EXPECT_GT(static_cast<size_t>(size), cLog::kPendingLimit - 400);
    EXPECT_NE(std::string(head, got).find("first line"), std::string::npos);
}
