// cCrlList: the CRL files configured for one chain, keyed by their title
// ("crlFile0" to "crlFile4").
#ifndef ORVANE_ENGINE_CCRLLIST_H
#define ORVANE_ENGINE_CCRLLIST_H

#include <map>
#include <memory>
#include <string>

#include "cCrlFileEntry.h"

class cCrlList {
public:
    cCrlList(std::string id, std::string dir);
    virtual ~cCrlList();
    cCrlList(const cCrlList&) = delete;
    cCrlList& operator=(const cCrlList&) = delete;

    // Adds and loads one file. False without a folder or file name, or when
    // the title is already taken; a file that fails to load is still added.
    bool addCrlFile(std::string title, std::string fileName);

    std::string id;   // the chain's configured SKI
    std::string dir;  // CRL.path
    std::map<std::string, std::unique_ptr<cCrlFileEntry>> files;
};

#endif
