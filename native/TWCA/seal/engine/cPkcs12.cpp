#include "cPkcs12.h"

#include "cBig5.h"
#include "cFile.h"
#include "cLog.h"
#include "cPfxAlgorithms.h"
#include "cSsl.h"
#include "cX509.h"
#include "cError.h"

cPkcs12::~cPkcs12() = default;

void cPkcs12::release() {
    extraCertificates.reset();
    certificate.reset();
    privateKey.reset();
    container.reset();
}

int cPkcs12::countExtraCertificates() const {
    return extraCertificates ? sk_X509_num(extraCertificates.get()) : 0;
}

// ---- loading ------------------------------------------------------------------

namespace {

// An ERROR line for a missing argument; returns 5005.
template <class Msg>
int argumentError(const Msg& msg) {
    cLog::instance().error(msg);
    return TWCA_ERR_ARGUMENT;
}

// 5209, with an ERROR line naming the algorithms, when the container is
// protected with algorithms the loaded providers lack (with `macOnly`, when
// its MAC digest is one of them); else 0. What a wrong password cannot be
// told from stays 5208 for the caller.
int unusableAlgorithm(const PKCS12* container, bool macOnly) {
    const cPfxAlgorithms algorithms(container);
    if (macOnly ? algorithms.macAvailable() : algorithms.unavailable().empty()) return 0;
    cLog& log = cLog::instance();
    log.error(BIG5_MSG("憑證檔的加密演算法無法使用"), macOnly ? "MAC " + algorithms.mac() : algorithms.unavailable());
    const cSslProviders& providers = cSslProviderState();
    if (!providers.legacy)
        log.error(BIG5_MSG("未載入 OpenSSL legacy provider, 模組目錄"), providers.moduleFolder);
    return TWCA_ERR_PFX_ALGORITHM;
}

}  // namespace

int cPkcs12::loadPfxFile(const char* filePath, const char* fileName, const char* pfxPasswd) {
    cLog& log = cLog::instance();
    cSslErrorGuard guard;
    cSslInitialise();
    release();

    if (filePath == nullptr) return argumentError(BIG5_MSG("參數 filePath 內容為 NULL"));
    if (*filePath == '\0') return argumentError(BIG5_MSG("參數 filePath 長度為 0"));
    if (fileName == nullptr) return argumentError(BIG5_MSG("參數 fileName 內容為 NULL"));
    if (*fileName == '\0') return argumentError(BIG5_MSG("參數 fileName 長度為 0"));

    const std::string path = std::string(filePath) + "/" + fileName;
    // Read whole, without ever waiting on the file: a FIFO or a device given
    // as the certificate is refused instead of blocking the caller.
    cFile content;
    size_t got = 0;
    const cFile::ReadResult read = cFile::readRegular(path.c_str(), content, got);
    if (read == cFile::OpenFailed) {
        log.error(BIG5_MSG("憑證檔不存在, 檔名"), path);
        return TWCA_ERR_PFX_FILE;
    }

    if (pfxPasswd == nullptr) return argumentError(BIG5_MSG("參數 pfxPasswd 內容為 NULL"));
    if (*pfxPasswd == '\0') return argumentError(BIG5_MSG("參數 pfxPasswd 長度為 0"));

    int code = 0;
    if (read != cFile::ReadOk) {
        log.error(BIG5_MSG("無法開啟憑證檔, 檔名"), path);
        code = TWCA_ERR_PFX_FILE;
    } else {
        const unsigned char* der = content.getData();
        if (der != nullptr) container.reset(d2i_PKCS12(nullptr, &der, content.getLength()));
        if (!container) {
            log.error(BIG5_MSG("憑證檔不是 PKCS#12 格式, 檔名"), path);
            code = TWCA_ERR_PFX_FILE;
        } else if (PKCS12_verify_mac(container.get(), pfxPasswd, -1) != 1) {
            code = unusableAlgorithm(container.get(), true);
            if (code == 0) {
                log.error(BIG5_MSG("PKCS#12 MAC 驗證失敗"));
                code = TWCA_ERR_PFX_PASSWORD;
            }
        } else {
            EVP_PKEY* key = nullptr;
            X509* cert = nullptr;
            STACK_OF(X509)* extra = nullptr;
            if (PKCS12_parse(container.get(), pfxPasswd, &key, &cert, &extra) != 1) {
                // The MAC proved the password: a file whose encryption this
                // libcrypto cannot undo is told apart from a wrong password.
                code = unusableAlgorithm(container.get(), false);
                if (code == 0) {
                    log.error(BIG5_MSG("PKCS#12 解析失敗"));
                    code = TWCA_ERR_PFX_PASSWORD;
                }
            }
            privateKey.reset(key);
            certificate.reset(cert);
            extraCertificates.reset(extra);
            if (code == 0 && (!privateKey || !certificate)) {
                // A container without key or certificate cannot sign anything.
                log.error(BIG5_MSG("憑證檔缺少私鑰或憑證, 檔名"), path);
                code = TWCA_ERR_PFX_FILE;
            }
        }
    }
    if (code != 0) {
        cSslErrorGuard::drain();
        release();
    }
    log.debug("end cPkcs12::loadPfxFile()", code);
    return code;
}

// ---- validity and key usage ---------------------------------------------------------

int cPkcs12::validityCode(const std::string& now, const std::string& notBefore, const std::string& notAfter) {
    if (now.compare(0, 14, notBefore, 0, 14) < 0) return TWCA_ERR_CERT_NOT_YET_VALID;
    if (now.compare(0, 14, notAfter, 0, 14) > 0) return TWCA_ERR_CERT_EXPIRED;
    return 0;
}

int cPkcs12::checkCertValid() const {
    cLog& log = cLog::instance();
    if (!certificate) return TWCA_ERR_CERT;
    const std::string now = cX509::currentTimeText();  // certificate times are UTC
    const std::string notBefore = cX509::notBefore(certificate.get());
    const std::string notAfter = cX509::notAfter(certificate.get());
    log.debug(BIG5_MSG("憑證生效日"), notBefore);
    log.debug(BIG5_MSG("憑證到期日"), notAfter);
    const int code = validityCode(now, notBefore, notAfter);
    if (code == TWCA_ERR_CERT_NOT_YET_VALID) {
        log.error(BIG5_MSG("驗憑證效期 : 憑證 未生效"));
    } else if (code == TWCA_ERR_CERT_EXPIRED) {
        log.error(BIG5_MSG("驗憑證效期 : 憑證 已過期"));
    }
    log.debug("end cPkcs12::checkCertValid()", code);
    return code;
}

int cPkcs12::keyUsageValue(const X509* cert) {
    if (cert == nullptr) return 0;
    cSslErrorGuard guard;
    AsnStringPtr usage(static_cast<ASN1_BIT_STRING*>(X509_get_ext_d2i(cert, NID_key_usage, nullptr, nullptr)));
    if (!usage) return 0;
    const int len = ASN1_STRING_length(usage.get());
    const unsigned char* data = ASN1_STRING_get0_data(usage.get());
    int value = 0;
    if (len > 0) value = data[0];
    if (len > 1) value += data[1] * 256;
    return value;
}

int cPkcs12::checkKeyUsageForSign() const {
    cLog& log = cLog::instance();
    if (!certificate) return TWCA_ERR_CERT;
    const int usage = keyUsageValue(certificate.get());
    log.debug(BIG5_MSG("憑證用途(KeyUsage)"), usage);
    const int code = (usage & 0x80) || (usage & 0x40) ? 0 : TWCA_ERR_KEY_USAGE;
    log.debug("end cPkcs12::checkKeyUsageForSign()", code);
    return code;
}

// ---- signer filter ---------------------------------------------------------------

std::vector<std::string> cPkcs12::splitConditions(const std::string& filter) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (;;) {
        const size_t marker = filter.find("//", start);
        if (marker == std::string::npos) break;
        pieces.push_back(filter.substr(start, marker - start));
        start = marker + 2;
    }
    // pieces[0] lies before the first marker; the text after the last marker
    // was never pushed. What stands between two markers are the conditions.
    if (!pieces.empty()) pieces.erase(pieces.begin());
    return pieces;
}

static std::string valueAt(const std::string& text, size_t from, char end) {
    const size_t stop = text.find(end, from);
    return text.substr(from, stop == std::string::npos ? std::string::npos : stop - from);
}

static std::string firstValue(const std::string& text, const char* key, char end, const char* logFormat) {
    const size_t at = text.find(key);
    if (at == std::string::npos) return std::string();
    std::string value = valueAt(text, at + std::char_traits<char>::length(key), end);
    cLog& log = cLog::instance();
    log.debug([&] { return cLog::format(logFormat, key); }, value);
    return value;
}

static void allValues(const std::string& text, const char* key, char end, const char* logFormat,
                      std::set<std::string>& values) {
    cLog& log = cLog::instance();
    const size_t keyLen = std::char_traits<char>::length(key);
    size_t from = 0;
    for (;;) {
        const size_t at = text.find(key, from);
        if (at == std::string::npos) return;
        const size_t begin = at + keyLen;
        const size_t stop = text.find(end, begin);
        std::string value = text.substr(begin, stop == std::string::npos ? std::string::npos : stop - begin);
        log.debug([&] { return cLog::format(logFormat, key); }, value);
        values.insert(std::move(value));
        if (stop == std::string::npos) return;
        from = stop + 1;
    }
}

std::string cPkcs12::parseFilterName(const std::string& condition, const char* key) {
    return firstValue(condition, key, ',', "cPkcs12::parseFilterName(%s)");
}

void cPkcs12::parseFilterNames(const std::string& condition, const char* key, std::set<std::string>& values) {
    allValues(condition, key, ',', "cPkcs12::parseFilterNames(%s)", values);
}

std::string cPkcs12::parseCertDistingName(const std::string& name, const char* key) {
    return firstValue(name, key, '/', "cPkcs12::parseCertDistingName(%s)");
}

void cPkcs12::parseCertDistingNames(const std::string& name, const char* key, std::set<std::string>& values) {
    allValues(name, key, '/', "cPkcs12::parseCertDistingNames(%s)", values);
}

namespace {
struct FilterKeys {
    const char* c;
    const char* o;
    const char* ou;
    const char* cn;
    cBig5Text errC;
    cBig5Text errO;
    cBig5Text errOU;
    cBig5Text errCN;
    const char* endLine;
    bool cnByContainment;
};
}  // namespace

static bool checkCondition(const std::string& condition, const std::string& name, const FilterKeys& k) {
    cLog& log = cLog::instance();
    const std::string c = cPkcs12::parseFilterName(condition, k.c);
    std::set<std::string> o, ou;
    cPkcs12::parseFilterNames(condition, k.o, o);
    cPkcs12::parseFilterNames(condition, k.ou, ou);
    const std::string cn = cPkcs12::parseFilterName(condition, k.cn);

    const std::string nameC = cPkcs12::parseCertDistingName(name, "C=");
    std::set<std::string> nameO, nameOU;
    cPkcs12::parseCertDistingNames(name, "O=", nameO);
    cPkcs12::parseCertDistingNames(name, "OU=", nameOU);
    const std::string nameCN = cPkcs12::parseCertDistingName(name, "CN=");

    bool ok = true;
    if (!c.empty() && c != nameC) {
        log.error(k.errC, c);
        ok = false;
    }
    for (auto it = o.begin(); ok && it != o.end(); ++it) {
        if (nameO.count(*it) == 0) {
            log.error(k.errO, *it);
            ok = false;
        }
    }
    for (auto it = ou.begin(); ok && it != ou.end(); ++it) {
        if (nameOU.count(*it) == 0) {
            log.error(k.errOU, *it);
            ok = false;
        }
    }
    if (ok && !cn.empty()) {
        const bool match = k.cnByContainment ? nameCN.find(cn) != std::string::npos : nameCN == cn;
        if (!match) {
            log.error(k.errCN, cn);
            ok = false;
        }
    }
    log.debug(k.endLine, ok);
    return ok;
}

bool cPkcs12::checkFilterByCertSubject(const std::string& condition, const std::string& subjectName) const {
    cLog& log = cLog::instance();
    log.param(BIG5_MSG("絛件 filter"), condition);
    if (condition.empty()) return true;
    log.param(BIG5_MSG("憑證主旨 subject"), subjectName);
    static const FilterKeys keys{"S_C=", "S_O=", "S_OU=", "S_CN=",
                                 BIG5_MSG("找不到憑證條件(S_C)"), BIG5_MSG("找不到憑證條件(S_O)"),
                                 BIG5_MSG("找不到憑證條件(S_OU)"), BIG5_MSG("找不到憑證條件(S_CN)"),
                                 "end cPkcs12::checkFilterByCertSubject()", true};
    return checkCondition(condition, subjectName, keys);
}

bool cPkcs12::checkFilterByCertIssuer(const std::string& condition, const std::string& issuerName) const {
    cLog& log = cLog::instance();
    log.param(BIG5_MSG("絛件 filter"), condition);
    if (condition.empty()) return true;
    static const FilterKeys keys{"I_C=", "I_O=", "I_OU=", "I_CN=",
                                 BIG5_MSG("找不到憑證條件(I_C)"), BIG5_MSG("找不到憑證條件(I_O)"),
                                 BIG5_MSG("找不到憑證條件(I_OU)"), BIG5_MSG("找不到憑證條件(I_CN)"),
                                 "end cPkcs12::checkFilterByCertIssuer()", false};
    return checkCondition(condition, issuerName, keys);
}

int cPkcs12::checkSignerFilter(const char* signerFilter) const {
    cLog& log = cLog::instance();
    if (!certificate) return TWCA_ERR_CERT;
    if (signerFilter == nullptr) return 0;
    log.param("signerFilter", signerFilter);
    if (*signerFilter == '\0') return 0;

    const std::vector<std::string> conditions = splitConditions(signerFilter);
    log.debug(BIG5_MSG("絛件數量"), static_cast<int>(conditions.size()));
    const std::string subject = cX509::subjectName(certificate.get());
    const std::string issuer = cX509::issuerName(certificate.get());
    int code = TWCA_ERR_CERT;
    for (const std::string& condition : conditions) {
        if (checkFilterByCertSubject(condition, subject) && checkFilterByCertIssuer(condition, issuer)) {
            code = 0;
            break;
        }
    }
    log.debug("end cPkcs12::checkSignerFilter()", code);
    return code;
}
