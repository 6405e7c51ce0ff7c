#include "cCrlList.h"

#include "cBig5.h"
#include "cLog.h"

cCrlList::cCrlList(std::string id_, std::string dir_) : id(std::move(id_)), dir(std::move(dir_)) {}

cCrlList::~cCrlList() = default;

bool cCrlList::addCrlFile(std::string title, std::string fileName) {
    cLog& log = cLog::instance();
    log.debug("begin cCrlList::addCrlFile()");
    log.param("title", title);
    log.param("fileName", fileName);
    bool result = false;
    if (dir.empty()) {
        log.error(BIG5_MSG("未指定 CRL 目錄!"));
    } else if (fileName.empty()) {
        log.error(BIG5_MSG("未指定 CRL 檔案的檔名!"));
    } else if (files.count(title) != 0) {
        log.error(BIG5_MSG("CRL 重覆設定"), title);
    } else {
        auto entry = std::make_unique<cCrlFileEntry>(title, dir, std::move(fileName));
        entry->loadCrl();
        files.emplace(std::move(title), std::move(entry));
        result = true;
    }
    log.debug("end cCrlList::addCrlFile()", result);
    return result;
}
