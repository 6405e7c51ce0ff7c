#include "TWCASign.h"

#include <climits>
#include <cstring>
#include <new>
#include <string>

#include "cAesCipher.h"
#include "cBig5.h"
#include "cBytes.h"
#include "cCertChainList.h"
#include "cChars.h"
#include "cCodePage.h"
#include "cFile.h"
#include "cLog.h"
#include "cPasswordKey.h"
#include "cPkcs12.h"
#include "cProperty.h"
#include "cSsl.h"
#include "cSslPtr.h"
#include "cError.h"

namespace {

// Size of the work areas holding a protected or decrypted password.
constexpr int kPasswordArea = 512;

// Wipes a secret held in a std::string before it is released.
struct SecretString {
    std::string text;
    ~SecretString() { wipe(); }
    void wipe() {
        if (!text.empty()) OPENSSL_cleanse(&text[0], text.size());
        text.clear();
    }
};

// Wipes a fixed work area when it goes out of scope.
template <size_t N>
struct SecretArea {
    unsigned char bytes[N] = {};
    ~SecretArea() { OPENSSL_cleanse(bytes, N); }
};

// Decodes a protected password (base64 of its ciphertext) and decrypts it with
// the given IV. The password is the decrypted bytes up to the first zero.
enum class Unprotect { Ok, Decode, TooLong, Decrypt };
Unprotect unprotectPassword(const std::string& b64, const unsigned char* iv, SecretString& password) {
    cBytes decoded;
    if (!decoded.base64Decode(b64.c_str())) return Unprotect::Decode;
    if (decoded.getLength() > kPasswordArea) return Unprotect::TooLong;
    SecretArea<kPasswordArea> work;
    std::memcpy(work.bytes, decoded.getData(), static_cast<size_t>(decoded.getLength()));
    cAesCipher cipher;
    cipher.setKey(kTWCAPasswordKey, iv);
    SecretArea<kPasswordArea + 1> plain;  // one spare zero byte ends the text
    int plainLen = kPasswordArea;
    if (cipher.decrypt(work.bytes, decoded.getLength(), plain.bytes, plainLen) != 0) return Unprotect::Decrypt;
    password.text.assign(reinterpret_cast<const char*>(plain.bytes));
    return Unprotect::Ok;
}

}  // namespace

TWCASign::TWCASign() { cSslInitialise(); }

TWCASign::~TWCASign() = default;

TWCASign::Settings TWCASign::getSettings() const {
    std::lock_guard<std::mutex> hold(operation);
    return Settings{digest, signerFilter, addCert, addTimestamp, addPlainText, checkValidity, checkKeyUsage};
}

void TWCASign::setCheckKeyUsage(bool on) {
    std::lock_guard<std::mutex> hold(operation);
    checkKeyUsage = on;
}

const X509* TWCASign::getSigningCertificate() const {
    std::lock_guard<std::mutex> hold(operation);
    return signingCertificate;
}

// ---- MakeTWCASignPasswd ------------------------------------------------------------

int TWCASign::MakeTWCASignPasswd(char* out, int* outLen, const char* propertyFile, const char* plainPfxPasswd) {
    std::lock_guard<std::mutex> hold(operation);
    try {
        return finish(makePassword(out, outLen, propertyFile, plainPfxPasswd));
    } catch (...) {
        cLog::instance().error("TWCASign::MakeTWCASignPasswd() exception");
        return finish(TWCA_ERR_OPENSSL);
    }
}

int TWCASign::makePassword(char* out, int* outLen, const char* propertyFile, const char* plainPfxPasswd) {
    cLog& log = cLog::instance();
    cSslErrorGuard guard;
    log.info("begin TWCASign::MakeTWCASignPasswd()");
    if (propertyFile == nullptr || *propertyFile == '\0') {
        log.error(BIG5_MSG("參數 propertyFile 為 NULL"));
        return TWCA_ERR_PROPERTY;
    }
    cProperty props;
    if (!props.loadFromFile(propertyFile)) {
        log.error(BIG5_MSG("property 檔讀取失敗"));
        return TWCA_ERR_PROPERTY;
    }
    if (plainPfxPasswd == nullptr || *plainPfxPasswd == '\0') {
        log.error(BIG5_MSG("passwd 參數錯誤"));
        return TWCA_ERR_ARGUMENT;
    }
    if (outLen == nullptr) {
        log.error(BIG5_MSG("參數 outLen 內容為 NULL"));
        return TWCA_ERR_ARGUMENT;
    }
    const size_t plainLen = std::strlen(plainPfxPasswd);
    cAesCipher cipher;
    cipher.setKey(kTWCAPasswordKey, kTWCAPasswordIv);
    SecretArea<kPasswordArea> cipherText;
    int cipherLen = kPasswordArea;
    if (plainLen > static_cast<size_t>(kPasswordArea) ||
        cipher.encrypt(reinterpret_cast<const unsigned char*>(plainPfxPasswd), static_cast<int>(plainLen),
                       cipherText.bytes, cipherLen) != 0) {
        log.error(BIG5_MSG("加密失敗"));
        return TWCA_ERR_ENCRYPT;
    }
    cChars text;
    if (!text.base64Encode(cipherText.bytes, cipherLen)) {
        log.error(BIG5_MSG("加密失敗"));
        return TWCA_ERR_ENCRYPT;
    }
    const int textLen = text.getLength();
    if (out == nullptr) {
        *outLen = textLen;
        return 0;
    }
    const int capacity = *outLen > 0 ? *outLen : 0;
    if (capacity > 0) std::memset(out, 0, static_cast<size_t>(capacity));
    *outLen = textLen;
    if (capacity < textLen) {
        log.error(BIG5_MSG("輸出緩衝區太小"));
        return TWCA_ERR_BUFFER;
    }
    std::memcpy(out, text.getData(), static_cast<size_t>(textLen));
    return 0;
}

// ---- TWCASignInitial -----------------------------------------------------------------

int TWCASign::TWCASignInitial(const char* propertyFile, const char* encedPfxPasswd) {
    cLog& log = cLog::instance();
    std::lock_guard<std::mutex> hold(operation);
    try {
        lastError = initialise(propertyFile, encedPfxPasswd);
    } catch (...) {
        log.error("TWCASign::TWCASignInitial() exception");
        lastError = TWCA_ERR_OPENSSL;
    }
    log.info("end TWCASign::TWCASign()", lastError);
    return lastError;
}

int TWCASign::initialise(const char* propertyFile, const char* encedPfxPasswd) {
    cLog& log = cLog::instance();
    cSslErrorGuard guard;
    log.info("");
    lastError = 0;

    if (propertyFile == nullptr) {
        log.error(BIG5_MSG("參數 propertyFile 為 NULL"));
        return TWCA_ERR_PROPERTY;
    }
    if (*propertyFile == '\0') {
        log.error(BIG5_MSG("參數 propertyFile 為 空值"));
        return TWCA_ERR_PROPERTY;
    }
    cProperty props;
    if (!props.loadFromFile(propertyFile)) {
        log.error(BIG5_MSG("property 檔讀取失敗"));
        return TWCA_ERR_PROPERTY;
    }

    log.setLevel(props.getProperty("LOG.level").c_str());
    cFile::createFolder(props.getProperty("LOG.path").c_str(), props.getProperty("LOG.file").c_str());

    cCertChainList::instance().loadOnce(&props);

    std::string value = props.getProperty("PKCS7.digest");
    if (!value.empty()) digest = value;

    std::string conversionError;
    const int certs = props.getPropertyInt("PKCS7.addCert", &conversionError);
    if (!conversionError.empty()) {
        log.error("PKCS7.addCert", conversionError);
        return TWCA_ERR_PROPERTY;
    }
    addCert = certs;
    addTimestamp = props.getPropertyBool("PKCS7.addTimestamp");
    addPlainText = props.getPropertyBool("PKCS7.addPlainText");
    // The generated properties file asks for the validity check here.
    checkValidity = props.getPropertyBool("PFX.checkValid");

    value = props.getProperty("PFX.signerFilter");
    if (!value.empty()) signerFilter = value;

    const std::string pfxPath = props.getProperty("PFX.path");
    const std::string pfxFile = props.getProperty("PFX.file");

    SecretString password;
    if (encedPfxPasswd != nullptr && *encedPfxPasswd != '\0') {
        switch (unprotectPassword(encedPfxPasswd, kTWCAPasswordIv, password)) {
        case Unprotect::Ok:
            break;
        case Unprotect::Decode:
            log.error(BIG5_MSG("encedPfxPasswd 內容解碼(Base64)失敗"));
            return TWCA_ERR_ARGUMENT;
        case Unprotect::TooLong:
            log.error(BIG5_MSG("encedPfxPasswd 內容過長"));
            return TWCA_ERR_ARGUMENT;
        case Unprotect::Decrypt:
            log.error(BIG5_MSG("encedPfxPasswd 內容解密失敗"));
            return TWCA_ERR_ARGUMENT;
        }
    } else {
        password.text = props.getProperty("PFX.pswd");
        if (password.text.empty()) {
            log.warn(BIG5_MSG("找不到 PFX.pswd 續找 PFX.pswdB64"));
            SecretString b64;
            b64.text = props.getProperty("PFX.pswdB64");
            if (b64.text.empty()) {
                log.error(BIG5_MSG("找不到 PFX.pswdB64"));
                return TWCA_ERR_ARGUMENT;
            }
            switch (unprotectPassword(b64.text, kTWCAPasswordKey, password)) {
            case Unprotect::Ok:
                break;
            case Unprotect::Decode:
                log.error(BIG5_MSG("PFX.pswdB64 內容解碼失敗"));
                return TWCA_ERR_ARGUMENT;
            case Unprotect::TooLong:
                log.error(BIG5_MSG("PFX.pswdB64 內容過長"));
                return TWCA_ERR_ARGUMENT;
            case Unprotect::Decrypt:
                log.error(BIG5_MSG("PFX.pswdB64 內容解密"));
                return TWCA_ERR_ARGUMENT;
            }
        }
    }

    auto loaded = std::make_unique<cPkcs12>();
    const int code = loaded->loadPfxFile(pfxPath.c_str(), pfxFile.c_str(), password.text.c_str());
    password.wipe();
    if (code == 0) {
        signingCertificate = nullptr;  // it belonged to the credential being replaced
        credential = std::move(loaded);
        initialised = true;
    } else {
        log.error(BIG5_MSG("讀取 pfx 檔失敗, 密碼錯誤"));
    }
    return code;
}

// ---- SignPkcs7 ------------------------------------------------------------------------

int TWCASign::SignPkcs7(const char* plain, const char* encoding) {
    std::lock_guard<std::mutex> hold(operation);
    return signPkcs7Locked(plain, encoding);
}

int TWCASign::SignPkcs7(const char* plain, const char* encoding, std::string& signatureOut) {
    std::lock_guard<std::mutex> hold(operation);
    signatureOut.clear();
    const int code = signPkcs7Locked(plain, encoding);
    return copySignature(code, signatureOut);
}

int TWCASign::signPkcs7Locked(const char* plain, const char* encoding) {
    try {
        return finish(signText(plain, encoding));
    } catch (...) {
        signature.clear();
        cLog::instance().error("TWCASign::SignPkcs7() exception");
        return finish(TWCA_ERR_OPENSSL);
    }
}

int TWCASign::signText(const char* plain, const char* encoding) {
    cLog& log = cLog::instance();
    log.info("begin TWCASign::SignPkcs7()");
    lastError = 0;
    // A failed call never leaves an earlier signature to be mistaken for its own.
    signature.clear();
    if (!credential) {
        log.error(BIG5_MSG("pfx 載入錯誤"));
        return TWCA_ERR_CERT;
    }
    if (plain == nullptr) {
        log.error(BIG5_MSG("參數 plain 內容為 NULL"));
        return TWCA_ERR_ARGUMENT;
    }
    if (*plain == '\0') {
        log.error(BIG5_MSG("參數 plain 長度為 0"));
        return TWCA_ERR_ARGUMENT;
    }
    if (encoding == nullptr) {
        log.error(BIG5_MSG("參數 encoding 內容為 NULL"));
        return TWCA_ERR_ARGUMENT;
    }
    if (*encoding == '\0') {
        log.error(BIG5_MSG("參數 encoding 長度為 0"));
        return TWCA_ERR_ARGUMENT;
    }
    cBytes converted;
    if (cChars::equalsIgnoreCase(encoding, "BIG5")) {
        if (!convertUniCodeStringToAny(plain, "BIG5", &converted)) {
            log.error(BIG5_MSG("convertUniCodeStringToAny(BIG5) 失敗"));
            return TWCA_ERR_ENCODING;
        }
        log.dump("convertUniCodeStringToAny(BIG5)", converted);
    } else if (cChars::equalsIgnoreCase(encoding, "UTF-16LE")) {
        if (!convertUniCodeStringToAny(plain, "UTF-16LE", &converted)) {
            log.error(BIG5_MSG("convertUniCodeStringToAny(UTF-16LE) 失敗"));
            return TWCA_ERR_ENCODING;
        }
        log.dump("convertUniCodeStringToAny(UTF-16LE)", converted);
    } else {
        // Converted for the DEBUG dump alone; nothing is signed.
        log.dump("convertUniCodeStringToAny(?)", [&]() -> const cBytes& {
            convertUniCodeStringToAny(plain, encoding, &converted);
            return converted;
        });
        log.error(BIG5_MSG("無法支援的編碼格式, encoding"), encoding);
        return TWCA_ERR_ENCODING;
    }
    return signPkcs7BinLocked(converted.getData(), converted.getLength());
}

// ---- SignPkcs7Bin ---------------------------------------------------------------------

int TWCASign::SignPkcs7Bin(const unsigned char* data, int datalen) {
    std::lock_guard<std::mutex> hold(operation);
    return signPkcs7BinLocked(data, datalen);
}

int TWCASign::SignPkcs7Bin(const unsigned char* data, int datalen, std::string& signatureOut) {
    std::lock_guard<std::mutex> hold(operation);
    signatureOut.clear();
    const int code = signPkcs7BinLocked(data, datalen);
    return copySignature(code, signatureOut);
}

int TWCASign::signPkcs7BinLocked(const unsigned char* data, int datalen) {
    cLog& log = cLog::instance();
    try {
        lastError = signBytes(data, datalen);
    } catch (...) {
        log.error("TWCASign::SignPkcs7Bin() exception");
        lastError = TWCA_ERR_OPENSSL;
    }
    if (lastError != 0) signature.clear();
    log.info("end TWCASign::SignPkcs7Bin()", lastError);
    return lastError;
}

int TWCASign::copySignature(int code, std::string& signatureOut) {
    if (code != 0) return code;
    try {
        signatureOut = signature;
    } catch (...) {
        cLog::instance().error("TWCASign::copySignature() exception");
        return finish(TWCA_ERR_OPENSSL);
    }
    return code;
}

namespace {

// An ERROR line "msg = code" and OpenSSL's queued errors; returns code.
template <class Msg>
int signingFailed(const Msg& msg, int code) {
    cLog::instance().error(msg, code);
    cSslErrorGuard::drain();
    return code;
}

}  // namespace

int TWCASign::signBytes(const unsigned char* data, int datalen) {
    cLog& log = cLog::instance();
    cSslErrorGuard guard;
    log.info("begin TWCASign::SignPkcs7Bin()");
    lastError = 0;
    signature.clear();

    if (data == nullptr) {
        log.error(BIG5_MSG("參數 data 內容為 NULL"));
        return TWCA_ERR_ARGUMENT;
    }
    if (datalen <= 0) {
        log.error(BIG5_MSG("參數 datalen <= 0"));
        return TWCA_ERR_ARGUMENT;
    }
    BioPtr input(BIO_new_mem_buf(data, datalen));
    if (!input) return signingFailed("BIO_new_mem_buf", TWCA_ERR_OPENSSL);
    if (!credential) {
        log.error(BIG5_MSG("pfx 檔尚未載入"));
        return TWCA_ERR_PFX_NOT_LOADED;
    }
    if (checkValidity) {
        const int code = credential->checkCertValid();
        if (code != 0) return signingFailed(BIG5_MSG("驗憑證效期失敗, 返回"), code);
    }
    if (checkKeyUsage) {
        const int code = credential->checkKeyUsageForSign();
        if (code != 0) return signingFailed(BIG5_MSG("驗憑證用途失敗, 返回"), code);
    }
    if (!signerFilter.empty()) {
        const int code = credential->checkSignerFilter(signerFilter.c_str());
        if (code != 0) return signingFailed(BIG5_MSG("簽章憑證條件失敗, 返回"), code);
    }

    X509* cert = const_cast<X509*>(credential->getCertificate());
    EVP_PKEY* key = credential->getPrivateKey();
    const STACK_OF(X509)* chain = nullptr;
    X509StackViewPtr builtChain;
    if (addCert >= 2) {
        if (credential->countExtraCertificates() > 0) {
            chain = credential->getExtraCertificates();
        } else {
            builtChain = cCertChainList::instance().prepareCertChain(cert);
            chain = builtChain.get();
        }
    }

    Pkcs7Ptr p7(PKCS7_new());
    if (!p7 || PKCS7_set_type(p7.get(), NID_pkcs7_signed) != 1)
        return signingFailed("PKCS7_new", TWCA_ERR_OPENSSL);

    const EVP_MD* md = nullptr;
    if (digest == "SHA1") {
        md = EVP_sha1();
    } else if (digest == "SHA256") {
        md = EVP_sha256();
    } else {
        log.error(BIG5_MSG("簽章條件錯誤, 演算法"), digest);
        return TWCA_ERR_SIGN;
    }

    PKCS7_SIGNER_INFO* si = PKCS7_add_signature(p7.get(), cert, key, md);
    if (si == nullptr) return signingFailed(BIG5_MSG("簽章失敗"), TWCA_ERR_SIGN);
    if (addCert >= 1 && PKCS7_add_certificate(p7.get(), cert) != 1)
        return signingFailed("PKCS7_add_certificate", TWCA_ERR_OPENSSL);
    if (addCert >= 2 && chain != nullptr) {
        for (int i = sk_X509_num(chain) - 1; i >= 0; --i) {
            if (PKCS7_add_certificate(p7.get(), sk_X509_value(chain, i)) != 1)
                return signingFailed("PKCS7_add_certificate", TWCA_ERR_OPENSSL);
        }
    }
    if (addTimestamp) {
        if (PKCS7_add0_attrib_signing_time(si, nullptr) != 1 ||
            PKCS7_add_signed_attribute(si, NID_pkcs9_contentType, V_ASN1_OBJECT, OBJ_nid2obj(NID_pkcs7_data)) != 1)
            return signingFailed(BIG5_MSG("簽章失敗"), TWCA_ERR_SIGN);
    }
    if (PKCS7_content_new(p7.get(), NID_pkcs7_data) != 1) return signingFailed("PKCS7_content_new", TWCA_ERR_OPENSSL);
    if (!addPlainText) PKCS7_set_detached(p7.get(), 1);

    // The content is copied as it is (binary: no line-ending translation).
    if (PKCS7_final(p7.get(), input.get(), PKCS7_BINARY) != 1)
        return signingFailed(BIG5_MSG("簽章失敗"), TWCA_ERR_SIGN);

    unsigned char* der = nullptr;
    const int derLen = i2d_PKCS7(p7.get(), &der);
    if (derLen <= 0) return signingFailed("i2d_PKCS7", TWCA_ERR_SIGN);
    SslBytesPtr derOwner(der);
    log.dump(BIG5_MSG("簽章值"), der, derLen);
    cChars b64;
    if (!b64.base64Encode(der, derLen)) return signingFailed("base64Encode", TWCA_ERR_SIGN);
    signature.assign(b64.c_str(), static_cast<size_t>(b64.getLength()));
    log.debug(BIG5_MSG("簽章值(base64)"), signature);
    signingCertificate = cert;
    return 0;
}
