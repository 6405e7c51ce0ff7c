#include "pfx_encryption.h"

#include <algorithm>

#include "cFile.h"
#include "cSsl.h"
#include "cSslPtr.h"

namespace orvane::certcheck {
namespace {

std::string object_name(const ASN1_OBJECT* obj) {
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

// "PBES2 <cipher>" for PBES2, else the scheme's own name (legacy).
std::string algorithm_name(const X509_ALGOR* alg, bool& legacy) {
    const ASN1_OBJECT* obj = nullptr;
    int ptype = 0;
    const void* pval = nullptr;
    X509_ALGOR_get0(&obj, &ptype, &pval, alg);
    if (OBJ_obj2nid(obj) != NID_pbes2) {
        legacy = true;
        return object_name(obj);
    }
    std::string name = "PBES2";
    if (ptype == V_ASN1_SEQUENCE && pval != nullptr) {
        cSslPtr<PBE2PARAM, PBE2PARAM_free> params(static_cast<PBE2PARAM*>(
            ASN1_item_unpack(static_cast<const ASN1_STRING*>(pval), ASN1_ITEM_rptr(PBE2PARAM))));
        if (params && params->encryption != nullptr) {
            const int nid = OBJ_obj2nid(params->encryption->algorithm);
            const char* sn = nid != NID_undef ? OBJ_nid2sn(nid) : nullptr;
            name += " ";
            name += sn != nullptr ? sn : object_name(params->encryption->algorithm);
        }
    }
    return name;
}

void add(PfxEncryption& out, const X509_ALGOR* alg) {
    if (alg == nullptr) return;
    const std::string name = algorithm_name(alg, out.legacy);
    if (std::find(out.algorithms.begin(), out.algorithms.end(), name) == out.algorithms.end())
        out.algorithms.push_back(name);
}

void add_bags(PfxEncryption& out, const STACK_OF(PKCS12_SAFEBAG)* bags) {
    for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags); ++i) {
        const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, i);
        if (PKCS12_SAFEBAG_get_nid(bag) != NID_pkcs8ShroudedKeyBag) continue;
        const X509_ALGOR* alg = nullptr;
        X509_SIG_get0(PKCS12_SAFEBAG_get0_pkcs8(bag), &alg, nullptr);
        add(out, alg);
    }
}

}  // namespace

void read_pfx_encryption(const char* path, PfxEncryption& out) {
    cSslErrorGuard guard;
    cSslInitialise();
    out = PfxEncryption();
    // Read without waiting on the file: a FIFO or a device is not PKCS#12.
    cFile content;
    size_t got = 0;
    if (cFile::readRegular(path, content, got) != cFile::ReadOk || content.getData() == nullptr) return;
    const unsigned char* der = content.getData();
    Pkcs12Ptr p12(d2i_PKCS12(nullptr, &der, content.getLength()));
    if (!p12) return;
    out.parsed = true;

    const ASN1_OCTET_STRING* mac_value = nullptr;
    const X509_ALGOR* mac_alg = nullptr;
    const ASN1_OCTET_STRING* salt = nullptr;
    const ASN1_INTEGER* iterations = nullptr;
    PKCS12_get0_mac(&mac_value, &mac_alg, &salt, &iterations, p12.get());
    if (mac_alg != nullptr) {
        const ASN1_OBJECT* obj = nullptr;
        X509_ALGOR_get0(&obj, nullptr, nullptr, mac_alg);
        const int nid = OBJ_obj2nid(obj);
        out.mac = nid != NID_undef && OBJ_nid2sn(nid) != nullptr ? OBJ_nid2sn(nid) : object_name(obj);
        out.mac_iterations = iterations != nullptr ? ASN1_INTEGER_get(iterations) : 1;
    }

    cSslPtr<STACK_OF(PKCS7), cSslFreePkcs7Stack> safes(PKCS12_unpack_authsafes(p12.get()));
    if (!safes) return;
    for (int i = 0; i < sk_PKCS7_num(safes.get()); ++i) {
        PKCS7* p7 = sk_PKCS7_value(safes.get(), i);
        switch (OBJ_obj2nid(p7->type)) {
        case NID_pkcs7_encrypted:
            if (p7->d.encrypted != nullptr && p7->d.encrypted->enc_data != nullptr)
                add(out, p7->d.encrypted->enc_data->algorithm);
            break;
        case NID_pkcs7_data: {
            cSslPtr<STACK_OF(PKCS12_SAFEBAG), cSslFreeSafeBags> bags(PKCS12_unpack_p7data(p7));
            if (bags) add_bags(out, bags.get());
            break;
        }
        default:
            break;
        }
    }
}

}  // namespace orvane::certcheck
