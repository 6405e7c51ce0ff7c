#include "cPfxAlgorithms.h"

#include <algorithm>

#include <openssl/evp.h>
#include <openssl/objects.h>

#include "cSsl.h"
#include "cSslPtr.h"

namespace {

std::string objectName(const ASN1_OBJECT* obj) {
    if (obj == nullptr) return "unknown";
    const int nid = OBJ_obj2nid(obj);
    if (nid != NID_undef) {
        const char* ln = OBJ_nid2ln(nid);
        if (ln != nullptr) return ln;
    }
    char text[128];
    const int n = OBJ_obj2txt(text, sizeof text, obj, 1);
    return n > 0 ? std::string(text, std::min<size_t>(static_cast<size_t>(n), sizeof text - 1)) : "unknown";
}

// Whether the loaded providers offer the cipher or digest: the fetch the
// PKCS#12 code makes itself. A failed fetch leaves nothing in the error queue.
bool cipherAvailable(int nid) {
    const char* name = nid != NID_undef ? OBJ_nid2sn(nid) : nullptr;
    if (name == nullptr) return false;
    ERR_set_mark();
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, name, nullptr);
    ERR_pop_to_mark();
    EVP_CIPHER_free(cipher);
    return cipher != nullptr;
}

bool digestAvailable(int nid) {
    const char* name = nid != NID_undef ? OBJ_nid2sn(nid) : nullptr;
    if (name == nullptr) return false;
    ERR_set_mark();
    EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr);
    ERR_pop_to_mark();
    EVP_MD_free(md);
    return md != nullptr;
}

// "PBES2 <cipher>" for PBES2, else the scheme's own name (legacy).
cPfxAlgorithms::Algorithm describe(const X509_ALGOR* alg) {
    cPfxAlgorithms::Algorithm out;
    const ASN1_OBJECT* obj = nullptr;
    int ptype = 0;
    const void* pval = nullptr;
    X509_ALGOR_get0(&obj, &ptype, &pval, alg);
    const int nid = OBJ_obj2nid(obj);
    if (nid != NID_pbes2) {
        out.legacy = true;
        out.name = objectName(obj);
        int cipher = NID_undef, digest = NID_undef;
        if (EVP_PBE_find(EVP_PBE_TYPE_OUTER, nid, &cipher, &digest, nullptr) != 1) {
            out.available = false;  // a scheme OpenSSL does not know
        } else {
            out.available = (cipher == NID_undef || cipherAvailable(cipher)) &&
                            (digest == NID_undef || digestAvailable(digest));
        }
        return out;
    }
    out.name = "PBES2";
    if (ptype == V_ASN1_SEQUENCE && pval != nullptr) {
        ERR_set_mark();
        cSslPtr<PBE2PARAM, PBE2PARAM_free> params(static_cast<PBE2PARAM*>(
            ASN1_item_unpack(static_cast<const ASN1_STRING*>(pval), ASN1_ITEM_rptr(PBE2PARAM))));
        ERR_pop_to_mark();
        if (params && params->encryption != nullptr) {
            const int cipher = OBJ_obj2nid(params->encryption->algorithm);
            const char* sn = cipher != NID_undef ? OBJ_nid2sn(cipher) : nullptr;
            out.name += " ";
            out.name += sn != nullptr ? sn : objectName(params->encryption->algorithm);
            out.available = cipherAvailable(cipher);
        }
    }
    return out;
}

}  // namespace

void cPfxAlgorithms::add(const X509_ALGOR* alg) {
    if (alg == nullptr) return;
    Algorithm a = describe(alg);
    const auto same = [&](const Algorithm& b) { return b.name == a.name; };
    if (std::find_if(algorithms.begin(), algorithms.end(), same) == algorithms.end())
        algorithms.push_back(std::move(a));
}

cPfxAlgorithms::cPfxAlgorithms(const PKCS12* p12) {
    if (p12 == nullptr) return;
    cSslInitialise();
    // Reading the outer structure may leave errors (a damaged safe); they
    // are not the caller's.
    ERR_set_mark();
    const ASN1_OCTET_STRING* macValue = nullptr;
    const X509_ALGOR* macAlg = nullptr;
    const ASN1_OCTET_STRING* salt = nullptr;
    const ASN1_INTEGER* iter = nullptr;
    PKCS12_get0_mac(&macValue, &macAlg, &salt, &iter, p12);
    if (macAlg != nullptr) {
        const ASN1_OBJECT* obj = nullptr;
        X509_ALGOR_get0(&obj, nullptr, nullptr, macAlg);
        const int nid = OBJ_obj2nid(obj);
        macName = nid != NID_undef && OBJ_nid2sn(nid) != nullptr ? OBJ_nid2sn(nid) : objectName(obj);
        iterations = iter != nullptr ? ASN1_INTEGER_get(iter) : 1;
        macUsable = digestAvailable(nid);
    }

    cSslPtr<STACK_OF(PKCS7), cSslFreePkcs7Stack> safes(PKCS12_unpack_authsafes(p12));
    for (int i = 0; safes && i < sk_PKCS7_num(safes.get()); ++i) {
        PKCS7* p7 = sk_PKCS7_value(safes.get(), i);
        switch (OBJ_obj2nid(p7->type)) {
        case NID_pkcs7_encrypted:
            if (p7->d.encrypted != nullptr && p7->d.encrypted->enc_data != nullptr)
                add(p7->d.encrypted->enc_data->algorithm);
            break;
        case NID_pkcs7_data: {
            cSslPtr<STACK_OF(PKCS12_SAFEBAG), cSslFreeSafeBags> bags(PKCS12_unpack_p7data(p7));
            for (int j = 0; bags && j < sk_PKCS12_SAFEBAG_num(bags.get()); ++j) {
                const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags.get(), j);
                if (PKCS12_SAFEBAG_get_nid(bag) != NID_pkcs8ShroudedKeyBag) continue;
                const X509_ALGOR* alg = nullptr;
                X509_SIG_get0(PKCS12_SAFEBAG_get0_pkcs8(bag), &alg, nullptr);
                add(alg);
            }
            break;
        }
        default:
            break;
        }
    }
    ERR_pop_to_mark();
}

bool cPfxAlgorithms::legacy() const {
    return std::any_of(algorithms.begin(), algorithms.end(), [](const Algorithm& a) { return a.legacy; });
}

std::string cPfxAlgorithms::unavailable() const {
    std::string out;
    const auto note = [&](const std::string& name) {
        if (!out.empty()) out += ", ";
        out += name;
    };
    for (const Algorithm& a : algorithms)
        if (!a.available) note(a.name);
    if (!macUsable) note("MAC " + macName);
    return out;
}
