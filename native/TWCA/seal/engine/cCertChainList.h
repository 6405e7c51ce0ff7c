// cCertChainList: the process-wide store of certificate-authority chains,
// keyed by the subject key identifier configured for each chain file. Loaded
// by the first initialisation that finds it empty, then read only.
//
// Threads: loading and every lookup of `chains` hold one lock, so facades
// initialising at the same time load the store once and a lookup never meets
// a half-made map. A stored entry is never changed nor removed before the
// store is destroyed at exit, so prepareCertChain walks an entry found under
// the lock without holding it.
#ifndef ORVANE_ENGINE_CCERTCHAINLIST_H
#define ORVANE_ENGINE_CCERTCHAINLIST_H

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "cCertChainEntry.h"
#include "cSslPtr.h"

class cProperty;

class cCertChainList {
public:
    // The store of the process.
    static cCertChainList& instance();

    cCertChainList() = default;
    virtual ~cCertChainList();
    cCertChainList(const cCertChainList&) = delete;
    cCertChainList& operator=(const cCertChainList&) = delete;

    // Loads the chain files the properties name (P7B.path, P7B<n>.SKI,
    // P7B<n>.name for n = 0..9). True when every chain file opened was stored.
    bool loadCertChainFiles(const cProperty* props);
    // Loads the chains only while the store holds none (the once-per-process
    // rule): true at once when chains are stored, else the load's result.
    bool loadOnce(const cProperty* props);

    // The issuer chain of cert, root first, or null. The stack belongs to the
    // caller, its certificates to the store.
    X509StackViewPtr prepareCertChain(const X509* cert) const;

    bool isEmpty() const;
    size_t size() const;
    const cCertChainEntry* find(const std::string& ski) const;

    std::string path;
    std::map<std::string, std::unique_ptr<cCertChainEntry>> chains;

private:
    bool loadLocked(const cProperty* props);

    // Taken by loading and by lookups: the store is filled once and then only
    // read, so the lock is never held for long.
    mutable std::mutex loadLock;
};

#endif
