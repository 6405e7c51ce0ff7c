#include "cCrlList.h"

#include "cBig5.h"
#include "cLog.h"

cCrlList::cCrlList(std::string id_, std::string dir_) : id(std::move(id_)), dir(std::move(dir_)) {}

cCrlList::~cCrlList() = default;

bool cCrlList::addCrlFile(std::string title, std::string fileName) {
    cLog& log = cLog::instance();
    if (log.isDebug()) log.write(LOG_TAG_DEBUG, "begin cCrlList::addCrlFile()");
    if (log.isInfo()) {
        log.writeText(LOG_TAG_PARAM, "title", title);
        log.writeText(LOG_TAG_PARAM, "fileName", fileName);
    }
    bool result = false;
    if (dir.empty()) {
        if (log.isError()) log.write(LOG_TAG_ERROR, BIG5_MSG("未指定 CRL 目錄!"));
    } else if (fileName.empty()) {
        if (log.isError()) log.write(LOG_TAG_ERROR, BIG5_MSG("未指定 CRL 檔案的檔名!"));
    } else if (files.count(title) != 0) {
        if (log.isError()) log.writeText(LOG_TAG_ERROR, BIG5_MSG("CRL 重覆設定"), title);
    } else {
        auto entry = std::make_unique<cCrlFileEntry>(title, dir, std::move(fileName));
        entry->loadCrl();
        files.emplace(std::move(title), std::move(entry));
        result = true;
    }
    if (log.isDebug()) log.writeBool(LOG_TAG_DEBUG, "end cCrlList::addCrlFile()", result);
    return result;
}
