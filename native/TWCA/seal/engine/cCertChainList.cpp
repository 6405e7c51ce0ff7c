#include "cCertChainList.h"

#include <vector>

#include "cBig5.h"
#include "cChars.h"
#include "cFile.h"
#include "cLog.h"
#include "cPlatformFolder.h"
#include "cProperty.h"
#include "cSsl.h"

cCertChainList& cCertChainList::instance() {
    // OpenSSL is set up first, so its clean-up at exit runs after the store
    // has released its certificates.
    cSslInitialise();
    static cCertChainList store;
    return store;
}

cCertChainList::~cCertChainList() = default;

bool cCertChainList::isEmpty() const {
    std::lock_guard<std::mutex> hold(loadLock);
    return chains.empty();
}

size_t cCertChainList::size() const {
    std::lock_guard<std::mutex> hold(loadLock);
    return chains.size();
}

const cCertChainEntry* cCertChainList::find(const std::string& ski) const {
    std::lock_guard<std::mutex> hold(loadLock);
    auto it = chains.find(ski);
    return it == chains.end() ? nullptr : it->second.get();
}

// Names of the ".p7b" files of a folder (any letter case), in directory order.
static bool listChainFiles(const std::string& path, std::vector<std::string>& names) {
    std::vector<std::string> entries;
    if (!cListFolder(path, entries)) return false;
    for (std::string& name : entries) {
        if (name.size() >= 4 && cChars::equalsIgnoreCase(name.c_str() + name.size() - 4, ".p7b"))
            names.push_back(std::move(name));
    }
    return true;
}

bool cCertChainList::loadOnce(const cProperty* props) {
    std::lock_guard<std::mutex> hold(loadLock);
    if (!chains.empty()) return true;
    return loadLocked(props);
}

bool cCertChainList::loadCertChainFiles(const cProperty* props) {
    std::lock_guard<std::mutex> hold(loadLock);
    return loadLocked(props);
}

bool cCertChainList::loadLocked(const cProperty* props) {
    cLog& log = cLog::instance();
    cSslErrorGuard guard;
    log.info("begin cCertChainList::loadCertChainFiles()");
    if (props == nullptr) {
        log.error(BIG5_MSG("參數錯誤 : property = NULL"));
        return false;
    }
    path = props->getProperty("P7B.path");
    if (path.empty()) {
        log.error(BIG5_MSG("未指定 P7B 目錄!"));
        return false;
    }
    std::vector<std::string> listed;
    if (!listChainFiles(path, listed)) {
        log.error(BIG5_MSG("無法讀取 P7B 目錄!"));
        return false;
    }

    int opened = 0, stored = 0;
    for (int n = 0; n < 10; ++n) {
        const std::string nameKey = cLog::format("P7B%d.name", n);
        std::string ski = props->getProperty(cLog::format("P7B%d.SKI", n).c_str());
        const std::string configured = props->getProperty(nameKey.c_str());
        if (configured.empty()) continue;
        const std::string* match = nullptr;
        for (const std::string& file : listed) {
            if (cChars::equalsIgnoreCase(file.c_str(), configured.c_str())) {
                match = &file;
                break;
            }
        }
        if (match == nullptr) continue;
        log.info([&] { return cLog::format(BIG5_MSG("執行載入 %s 檔"), nameKey.c_str()); }, configured);

        // Joined with "/": the folder separator of POSIX systems.
        const std::string filePath = path + "/" + *match;
        // Read whole without waiting on the file (a FIFO named like a chain
        // file opens but is not read).
        cFile content;
        size_t got = 0;
        const cFile::ReadResult read = cFile::readRegular(filePath.c_str(), content, got);
        if (read == cFile::OpenFailed) continue;
        ++opened;
        Pkcs7Ptr p7;
        const unsigned char* der = content.getData();
        if (read == cFile::ReadOk && der != nullptr) p7.reset(d2i_PKCS7(nullptr, &der, content.getLength()));
        if (!p7 || !PKCS7_type_is_signed(p7.get()) || p7->d.sign == nullptr || p7->d.sign->cert == nullptr ||
            sk_X509_num(p7->d.sign->cert) == 0) {
            log.error(BIG5_MSG("憑證鏈檔格式錯誤, 檔名"), filePath);
            ERR_clear_error();
            continue;
        }
        auto entry = std::make_unique<cCertChainEntry>(cLog::format("P7B%d", n), ski, p7.get(), props);
        if (!entry->valid) {
            log.error(BIG5_MSG("內部驗證失敗, 這個憑證鏈捨棄不使用, 無法用來驗憑證鏈"));
            continue;
        }
        if (!ski.empty() && entry->issuersBySki.count(ski) != 0) {
            chains.emplace(std::move(ski), std::move(entry));  // a key already present keeps its chain
            ++stored;
            log.info([&] { return cLog::format(BIG5_MSG("載入 %s 檔成功"), nameKey.c_str()); });
        } else {
            log.error(BIG5_MSG("憑證鏈 SKI 與設定檔不符"), ski);
            log.error(BIG5_MSG("內部驗證失敗, 這個憑證鏈捨棄不使用, 無法用來驗憑證鏈"));
        }
    }
    const bool result = opened == stored;
    log.info("end cCertChainList::loadCertChainFiles()", result);
    return result;
}

X509StackViewPtr cCertChainList::prepareCertChain(const X509* cert) const {
    cLog& log = cLog::instance();
    if (cert == nullptr) return nullptr;
    X509StackViewPtr stack;
    std::string key = cX509::authorityKeyId(cert);
    if (const cCertChainEntry* entry = find(key)) {
        stack.reset(sk_X509_new_null());
        const STACK_OF(X509)* certs = entry->certificates();
        // Bounded by the chain's size: identifiers forming a cycle end the walk.
        int steps = certs ? sk_X509_num(certs) : 0;
        while (stack && steps-- > 0) {
            auto it = entry->issuersBySki.find(key);
            if (it == entry->issuersBySki.end()) break;
            X509* ca = it->second->get();
            log.debug(BIG5_MSG("找到簽章 CA 的 subject"), [&] { return cX509::subjectName(ca); });
            key = cX509::authorityKeyId(ca);
            if (sk_X509_unshift(stack.get(), ca) <= 0) {
                stack.reset();
                break;
            }
            if (cX509::issuerName(ca) == cX509::subjectName(ca)) {
                log.debug(BIG5_MSG("這是 CA 的根憑證"));
                break;
            }
        }
    }
    log.debug(BIG5_MSG("end cCertChainList::prepareCertChain() 數量"), stack ? sk_X509_num(stack.get()) : 0);
    return stack;
}
