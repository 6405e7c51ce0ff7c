#include "cCertChainEntry.h"

#include "cBig5.h"
#include "cLog.h"
#include "cPkcs12.h"
#include "cProperty.h"
#include "cSsl.h"

cCertChainEntry::cCertChainEntry(std::string name_, std::string ski_, const PKCS7* data, const cProperty* props)
    : name(std::move(name_)), ski(std::move(ski_)) {
    cSslErrorGuard guard;
    if (data == nullptr) return;
    signedData.reset(PKCS7_dup(const_cast<PKCS7*>(data)));
    if (!signedData) return;
    crls = std::make_unique<cCrlList>(ski, props != nullptr ? props->getProperty("CRL.path") : std::string());
    valid = selfVerify() && loadCrlList(props);
}

cCertChainEntry::~cCertChainEntry() = default;

const STACK_OF(X509)* cCertChainEntry::certificates() const {
    if (!signedData || !PKCS7_type_is_signed(signedData.get()) || signedData->d.sign == nullptr) return nullptr;
    return signedData->d.sign->cert;
}

static bool isSelfIssued(const X509* cert) {
    return cX509::issuerName(cert) == cX509::subjectName(cert);
}

bool cCertChainEntry::selfVerify() {
    cLog& log = cLog::instance();
    cSslErrorGuard guard;
    log.debug("begin cCertChainEntry::selfVerify()");
    const STACK_OF(X509)* certs = certificates();
    const int n = certs ? sk_X509_num(certs) : 0;
    if (n == 0) return false;

    x509Store.reset(X509_STORE_new());
    subjects.clear();
    if (!x509Store) {
        log.error(BIG5_MSG("初始化失敗(X509_STORE_new)!"));
        return false;
    }
    for (int i = 0; i < n; ++i) X509_STORE_add_cert(x509Store.get(), sk_X509_value(certs, i));
    ERR_clear_error();  // a certificate listed twice is reported as an error

    int roots = 0, endEntities = 0, verified = 0;
    X509* lastEndEntity = nullptr;
    for (int i = 0; i < n; ++i) {
        X509* cert = sk_X509_value(certs, i);
        const int usage = cPkcs12::keyUsageValue(cert);
        const bool root = isSelfIssued(cert);
        const bool ca = !root && (usage & 0x04 || usage & 0x02);
        if (root) {
            ++roots;
        } else if (!ca) {
            ++endEntities;
            lastEndEntity = cert;
        }
        const cBig5Text kind = root ? BIG5_MSG("\t|--- 根憑證, 憑證序號")
                                    : ca ? BIG5_MSG("\t|--- CA 憑證, 憑證序號") : BIG5_MSG("\t|--- EE 憑證, 憑證序號");
        log.debug(kind, [&] { return cCrlFileEntry::serialHex(X509_get0_serialNumber(cert)); });
        log.debug(BIG5_MSG("\t|\t|--- 憑證 主旨 CN"), [&] { return cX509::subjectCN(cert); });
        log.debug(BIG5_MSG("\t|\t|--- 憑證 發行者 CN"), [&] { return cX509::issuerCN(cert); });
        log.debug(BIG5_MSG("\t|\t|--- 憑證 生效日"), [&] { return cX509::notBefore(cert); });
        log.debug(BIG5_MSG("\t|\t|--- 憑證 到期日"), [&] { return cX509::notAfter(cert); });
        log.debug(BIG5_MSG("\t|\t|--- 憑證 摘要值"), [&] { return cX509::thumbprint(cert); });
        log.debug(BIG5_MSG("\t|\t|--- 憑證 SKI"), [&] { return cX509::subjectKeyId(cert); });
        log.debug(BIG5_MSG("\t|\t|--- 憑證 AKI"), [&] { return cX509::authorityKeyId(cert); });
        log.debug(BIG5_MSG("\t|\t|--- 金鑰使用方方式"), usage);
        if (!root && !ca) {
            log.debugEach("\t|\t|--- CrlDP", [&] { return cX509::crlDistributionPoints(cert); });
            log.debug(BIG5_MSG("\t|\t|--- 不予驗證"));
            continue;
        }
        cSslPtr<X509_STORE_CTX, X509_STORE_CTX_free> ctx(X509_STORE_CTX_new());
        if (!ctx || X509_STORE_CTX_init(ctx.get(), x509Store.get(), cert, nullptr) != 1) {
            ERR_clear_error();
            continue;
        }
        if (X509_verify_cert(ctx.get()) == 1) {
            ++verified;
            subjects.insert(cX509::subjectName(cert));
            std::string certSki = cX509::subjectKeyId(cert);
            if (!certSki.empty() && issuersBySki.count(certSki) == 0) {
                auto copy = std::make_unique<cX509>(cert);
                if (copy->get() != nullptr) issuersBySki.emplace(std::move(certSki), std::move(copy));
            }
            log.debug(BIG5_MSG("\t|\t|--- 驗證成功"));
        } else {
            log.error(BIG5_MSG("\t|\t|--- 驗章失敗, 原因"),
                      X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx.get())));
            ERR_clear_error();
        }
    }
    if (lastEndEntity != nullptr) verifyCert(lastEndEntity);

    bool result;
    if (roots == 0) {
        log.error(BIG5_MSG("找不到根憑證可供驗章"));
        result = false;
    } else {
        result = verified == n - endEntities;
    }
    log.info("end cCertChainEntry::selfVerify()", result);
    return result;
}

int cCertChainEntry::verifyCert(X509* cert) {
    cLog& log = cLog::instance();
    cSslErrorGuard guard;
    log.debug("begin cCertChainEntry::verifyCert()");
    int result = -1;
    if (!x509Store) {
        log.error(BIG5_MSG("初始化失敗(store尚未建立)!"));
    } else if (cert != nullptr) {
        log.debug(BIG5_MSG("驗章 Subject"), [&] { return cX509::subjectName(cert); });
        if (subjects.count(cX509::issuerName(cert)) == 0) {
            log.error(BIG5_MSG("不在同一個憑證鏈!"));
        } else {
            cSslPtr<X509_STORE_CTX, X509_STORE_CTX_free> ctx(X509_STORE_CTX_new());
            if (!ctx || X509_STORE_CTX_init(ctx.get(), x509Store.get(), cert, nullptr) != 1) {
                log.error(BIG5_MSG("初始化失敗(X509_STORE_CTX_init)!"));
            } else if (X509_verify_cert(ctx.get()) == 1) {
                result = 0;
            } else {
                const int error = X509_STORE_CTX_get_error(ctx.get());
                result = error > 0 ? error : -1;
            }
        }
    }
    log.debug("end cCertChainEntry::verifyCert()", result);
    return result;
}

bool cCertChainEntry::loadCrlList(const cProperty* props) {
    cLog& log = cLog::instance();
    log.debug("begin cCertChainEntry::loadCrlList()");
    if (!crls) return false;
    if (props == nullptr) {
        log.error(BIG5_MSG("參數錯誤 : property = NULL"));
        return false;
    }
    int count = 0;
    for (int k = 0; k < 5; ++k) {
        std::string value = props->getProperty(cLog::format("%s.crlFile%d", name.c_str(), k).c_str());
        if (!value.empty() && crls->addCrlFile(cLog::format("crlFile%d", k), std::move(value))) ++count;
    }
    log.info(BIG5_MSG("載入 crl 檔數量"), count);
    log.info("end cCertChainEntry::loadCrlList()");
    return true;
}
