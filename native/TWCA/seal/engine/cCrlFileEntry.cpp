#include "cCrlFileEntry.h"

#include "cBig5.h"
#include "cChars.h"
#include "cLog.h"
#include "cSsl.h"
#include "cX509.h"

cCrlFileEntry::cCrlFileEntry(std::string title_, std::string dir_, std::string fileName_)
    : title(std::move(title_)), dir(std::move(dir_)), fileName(std::move(fileName_)) {}

cCrlFileEntry::~cCrlFileEntry() = default;

bool cCrlFileEntry::loadCrl() {
    cLog& log = cLog::instance();
    if (fileName.empty()) {
        log.error(BIG5_MSG("尚未指定 CRL 儲存檔案的檔名!"));
        return false;
    }
    const std::string path = fileName[0] == '/' ? fileName : dir + "/" + fileName;
    log.debug(BIG5_MSG("載入 CRL 檔案檔名"), path);
    if (file.loadFromFile(path.c_str())) {
        log.debug(BIG5_MSG("載入 CRL 檔案長度"), file.getLength());
        parseCrl();
    }
    log.debug("end cCrlFileEntry::loadCrl()", true);
    return true;
}

bool cCrlFileEntry::isExpired(const std::string& now, const std::string& nextUpdate) {
    return now.compare(0, 14, nextUpdate, 0, 14) > 0;
}

std::string cCrlFileEntry::serialHex(const ASN1_INTEGER* serial) {
    const unsigned char* data = ASN1_STRING_get0_data(serial);
    int len = ASN1_STRING_length(serial);
    while (len > 0 && *data == 0) {
        ++data;
        --len;
    }
    if (len <= 0) return "0";
    cChars hex;
    if (!hex.hexEncode(data, len)) return std::string();
    std::string text = hex.toString();
    if (text.size() > 1 && text[0] == '0') text.erase(0, 1);
    return text;
}

bool cCrlFileEntry::parseCrl() {
    cLog& log = cLog::instance();
    cSslErrorGuard guard;
    log.debug("begin cCrlFileEntry::parseCrl()", title);
    if (file.isEmpty()) {
        log.error(BIG5_MSG("尚未載入 CRL 內容!"));
        return false;
    }
    const unsigned char* p = file.getData();
    cSslPtr<X509_CRL, X509_CRL_free> parsed(d2i_X509_CRL(nullptr, &p, file.getLength()));
    if (!parsed) {
        log.error(BIG5_MSG("解析 crl 失敗, OpenSSL 錯誤訊息"), cSslFirstErrorText());
        return false;
    }
    revoked.reset();
    crl = std::move(parsed);

    expired = false;
    const std::string nextUpdate = cX509::timeText(X509_CRL_get0_nextUpdate(crl.get()));
    log.debug(BIG5_MSG("CRL 下次發佈時間"), nextUpdate);
    if (isExpired(cX509::currentTimeText(), nextUpdate)) {
        log.error(BIG5_MSG("驗 CRL 效期 : CRL 已過期"));
        expired = true;
    } else {
        log.debug(BIG5_MSG("驗 CRL 效期 : 有效 CRL"));
    }

    STACK_OF(X509_REVOKED)* entries = X509_CRL_get_REVOKED(crl.get());
    const int count = entries ? sk_X509_REVOKED_num(entries) : 0;
    log.debug(BIG5_MSG("CRL廢止數量"), count);
    auto map = std::make_unique<std::map<std::string, const X509_REVOKED*>>();
    for (int i = 0; i < count; ++i) {
        const X509_REVOKED* entry = sk_X509_REVOKED_value(entries, i);
        map->emplace(serialHex(X509_REVOKED_get0_serialNumber(entry)), entry);
    }
    revoked = std::move(map);
    log.debug(BIG5_MSG("CRL廢止數量"), static_cast<int>(revoked->size()));
    log.debug("end cCrlFileEntry::parseCrl()", true);
    return true;
}
