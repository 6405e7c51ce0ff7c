// orvane.TWCA._certcheck: the signing engine as the certificate check command
// needs it. Five functions:
//
//   check(properties_file, password, probe) -> dict
//       loads the PKCS#12 file named by the properties file with the password
//       the way a signing session does, reads its certificate, signs the probe
//       text and verifies the signature against the file's certificate.
//   encryption(path) -> dict | None
//       how the file is protected (no password needed); None when the file is
//       not DER PKCS#12.
//   providers() -> dict
//       which OpenSSL providers the engine loaded ("legacy", "default") and
//       the folder it looked for their modules in, with where that came
//       from ("package", "OPENSSL_MODULES" or "OpenSSL").
//   verify(signature, certificate, content) -> str | None
//       the probe's verification on its own: None when the base64 signature
//       was made with the DER certificate's key over `content`, else why not.
//   fits_property(name, value) -> bool
//       whether the properties line "name = value" (bytes) is read back by the
//       engine as written: the check the signing module makes on every path
//       it writes into a properties file.
//
// Paths are str (file-system encoded); password and probe are bytes without
// NUL. The password is never stored, logged or put into a message.
#include <cstring>
#include <string>

#include <openssl/err.h>

#include "common/args.h"
#include "common/classes.h"
#include "common/module_file.h"
#include "common/names.h"
#include "common/ref.h"
#include "cProperty.h"
#include "cSsl.h"
#include "cSslPtr.h"
#include "pfx_check.h"
#include "pfx_encryption.h"

namespace orvane::certcheck {
namespace {

// The keys of the dicts the functions return.
#define CERTCHECK_NAMES(X)                          \
    X(protect, "protect")                           \
    X(load, "load")                                 \
    X(validity, "validity")                         \
    X(key_usage_check, "key_usage_check")           \
    X(sign, "sign")                                 \
    X(subject, "subject")                           \
    X(issuer, "issuer")                             \
    X(serial, "serial")                             \
    X(not_before, "not_before")                     \
    X(not_after, "not_after")                       \
    X(key_usage, "key_usage")                       \
    X(extra_certificates, "extra_certificates")     \
    X(verified, "verified")                         \
    X(verify_error, "verify_error")                 \
    X(algorithms, "algorithms")                     \
    X(legacy, "legacy")                             \
    X(mac, "mac")                                   \
    X(mac_iterations, "mac_iterations")             \
    X(unavailable, "unavailable")                   \
    X(default_provider, "default")                  \
    X(module_folder, "module_folder")               \
    X(folder_from, "folder_from")

ORVANE_INTERNED(Names, CERTCHECK_NAMES);

// The module's state: the interned keys, made at initialisation and kept for
// the process.
struct State {
    Names names;
    bool init() { return names.init(); }
};

State state;

// A zero-terminated byte argument: `what` must be bytes without NUL.
bool bytes_argument(PyObject* value, const char* fname, const char* what, bool allow_empty, const char** out) {
    if (!PyBytes_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be bytes, not %.200s", fname, what,
                     Py_TYPE(value)->tp_name);
        return false;
    }
    const char* data = PyBytes_AS_STRING(value);
    const Py_ssize_t size = PyBytes_GET_SIZE(value);
    if (static_cast<Py_ssize_t>(std::strlen(data)) != size) {
        PyErr_Format(PyExc_ValueError, "%s() argument '%s' must not contain NUL bytes", fname, what);
        return false;
    }
    if (!allow_empty && size == 0) {
        PyErr_Format(PyExc_ValueError, "%s() argument '%s' must not be empty", fname, what);
        return false;
    }
    *out = data;
    return true;
}

// A path argument (str or os.PathLike) as file-system bytes.
Ref path_argument(PyObject* value) {
    PyObject* encoded = nullptr;
    if (!PyUnicode_FSConverter(value, &encoded)) return Ref();
    return Ref::steal(encoded);
}

// dict[key] = value, consuming the new reference `value`.
bool set_item(PyObject* dict, PyObject* key, PyObject* value) {
    Ref v = Ref::steal(value);
    return v && PyDict_SetItem(dict, key, v.get()) == 0;
}

PyObject* code_or_none(int code) {
    if (code < 0) Py_RETURN_NONE;
    return PyLong_FromLong(code);
}

PyObject* text(const std::string& s) {
    // Certificate texts are bytes of the one-line form; keep every byte.
    return PyUnicode_DecodeLatin1(s.data(), static_cast<Py_ssize_t>(s.size()), nullptr);
}

PyObject* check_result(const PfxCheck& r) {
    const Names& n = state.names;
    Ref d = Ref::steal(PyDict_New());
    if (!d) return nullptr;
    PyObject* dict = d.get();
    if (!set_item(dict, n.protect, code_or_none(r.protect)) || !set_item(dict, n.load, code_or_none(r.load)) ||
        !set_item(dict, n.validity, code_or_none(r.validity)) ||
        !set_item(dict, n.key_usage_check, code_or_none(r.key_usage_check)) ||
        !set_item(dict, n.sign, code_or_none(r.sign)))
        return nullptr;
    if (r.load == 0) {
        if (!set_item(dict, n.subject, text(r.subject)) || !set_item(dict, n.issuer, text(r.issuer)) ||
            !set_item(dict, n.serial, text(r.serial)) || !set_item(dict, n.not_before, text(r.not_before)) ||
            !set_item(dict, n.not_after, text(r.not_after)) ||
            !set_item(dict, n.key_usage, r.has_key_usage ? PyLong_FromLong(r.key_usage) : new_ref(Py_None)) ||
            !set_item(dict, n.extra_certificates, PyLong_FromLong(r.extra_certificates)))
            return nullptr;
    }
    if (r.sign == 0) {
        if (!set_item(dict, n.verified, PyBool_FromLong(r.verified)) ||
            !set_item(dict, n.verify_error, r.verified ? new_ref(Py_None) : text(r.verify_error)))
            return nullptr;
    }
    return d.release();
}

PyObject* check(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        static Params params("check", {"properties_file", "password", "probe"}, 3);
        Args<3> argv;
        if (!params.parse(args, nargs, kwnames, argv)) return nullptr;
        Ref props = path_argument(argv[0]);
        if (!props) return nullptr;
        const char* password = nullptr;
        const char* probe = nullptr;
        if (!bytes_argument(argv[1], "check", "password", true, &password) ||
            !bytes_argument(argv[2], "check", "probe", false, &probe))
            return nullptr;
        PfxCheck result;
        run_pfx_check(PyBytes_AS_STRING(props.get()), password, probe, result);
        return check_result(result);
    });
}

PyObject* encryption(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        static Params params("encryption", {"path"}, 1);
        Args<1> argv;
        if (!params.parse(args, nargs, kwnames, argv)) return nullptr;
        Ref path = path_argument(argv[0]);
        if (!path) return nullptr;
        PfxEncryption info;
        read_pfx_encryption(PyBytes_AS_STRING(path.get()), info);
        if (!info.parsed) Py_RETURN_NONE;
        Ref algorithms = Ref::steal(PyList_New(0));
        if (!algorithms) return nullptr;
        for (const std::string& name : info.algorithms) {
            Ref s = Ref::steal(text(name));
            if (!s || PyList_Append(algorithms.get(), s.get()) < 0) return nullptr;
        }
        Ref unavailable = Ref::steal(PyList_New(0));
        if (!unavailable) return nullptr;
        for (const std::string& name : info.unavailable) {
            Ref s = Ref::steal(text(name));
            if (!s || PyList_Append(unavailable.get(), s.get()) < 0) return nullptr;
        }
        const Names& n = state.names;
        Ref d = Ref::steal(PyDict_New());
        if (!d || !set_item(d.get(), n.algorithms, algorithms.release()) ||
            !set_item(d.get(), n.unavailable, unavailable.release()) ||
            !set_item(d.get(), n.legacy, PyBool_FromLong(info.legacy)) ||
            !set_item(d.get(), n.mac, info.mac.empty() ? new_ref(Py_None) : text(info.mac)) ||
            !set_item(d.get(), n.mac_iterations, PyLong_FromLong(info.mac_iterations)))
            return nullptr;
        return d.release();
    });
}

PyObject* providers(PyObject*, PyObject*) {
    return guarded([&]() -> PyObject* {
        const cSslProviders& loaded = cSslProviderState();
        const Names& n = state.names;
        Ref d = Ref::steal(PyDict_New());
        if (!d || !set_item(d.get(), n.legacy, PyBool_FromLong(loaded.legacy)) ||
            !set_item(d.get(), n.default_provider, PyBool_FromLong(loaded.defaults)) ||
            !set_item(d.get(), n.module_folder, PyUnicode_DecodeFSDefault(loaded.moduleFolder.c_str())) ||
            !set_item(d.get(), n.folder_from, PyUnicode_FromString(loaded.folderFrom)))
            return nullptr;
        return d.release();
    });
}

PyObject* verify(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        static Params params("verify", {"signature", "certificate", "content"}, 3);
        Args<3> argv;
        if (!params.parse(args, nargs, kwnames, argv)) return nullptr;
        const char* signature = nullptr;
        if (!bytes_argument(argv[0], "verify", "signature", true, &signature)) return nullptr;
        char* der = nullptr;
        Py_ssize_t der_len = 0;
        char* content = nullptr;
        Py_ssize_t content_len = 0;
        if (PyBytes_AsStringAndSize(argv[1], &der, &der_len) < 0 ||
            PyBytes_AsStringAndSize(argv[2], &content, &content_len) < 0)
            return nullptr;
        const unsigned char* p = reinterpret_cast<const unsigned char*>(der);
        X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der_len)));
        ERR_clear_error();
        if (!cert) {
            PyErr_SetString(PyExc_ValueError, "verify() argument 'certificate' is not a DER certificate");
            return nullptr;
        }
        std::string error;
        if (verify_probe(signature, cert.get(), std::string(content, static_cast<size_t>(content_len)), error))
            Py_RETURN_NONE;
        return text(error);
    });
}

PyObject* fits_property(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        static Params params("fits_property", {"name", "value"}, 2);
        Args<2> argv;
        if (!params.parse(args, nargs, kwnames, argv)) return nullptr;
        const char* name = nullptr;
        if (!bytes_argument(argv[0], "fits_property", "name", false, &name)) return nullptr;
        char* value = nullptr;
        Py_ssize_t size = 0;
        if (PyBytes_AsStringAndSize(argv[1], &value, &size) < 0) return nullptr;
        return PyBool_FromLong(cProperty::fitsLine(name, value, static_cast<size_t>(size)));
    });
}

PyMethodDef methods[] = {
    {"check", fast(check), METH_FASTCALL | METH_KEYWORDS,
     "check($module, /, properties_file, password, probe)\n--\n\n"
     "Loads the PKCS#12 file the properties name, reads its certificate, signs\n"
     "the probe and verifies the signature; a dict of engine codes and facts."},
    {"encryption", fast(encryption), METH_FASTCALL | METH_KEYWORDS,
     "encryption($module, /, path)\n--\n\n"
     "How a PKCS#12 file is protected; None when it is not DER PKCS#12."},
    {"providers", providers, METH_NOARGS,
     "providers($module, /)\n--\n\n"
     "The OpenSSL providers the engine loaded and where it looked for them."},
    {"verify", fast(verify), METH_FASTCALL | METH_KEYWORDS,
     "verify($module, /, signature, certificate, content)\n--\n\n"
     "Checks a base64 PKCS#7 signature with embedded content against the DER\n"
     "certificate alone and the expected content: None, or why it fails."},
    {"fits_property", fast(fits_property), METH_FASTCALL | METH_KEYWORDS,
     "fits_property($module, /, name, value)\n--\n\n"
     "Whether the properties line \"name = value\" is read back by the engine as\n"
     "written (no line break or NUL, no blank at either end, short enough)."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "orvane.TWCA._certcheck",
    "The signing engine as the certificate check command uses it (private).",
    -1,
    methods,
};

}  // namespace
}  // namespace orvane::certcheck

ORVANE_MODINIT PyInit__certcheck(void) {
    return orvane::guarded([]() -> PyObject* {
        if (!orvane::certcheck::state.init()) return nullptr;
        // OpenSSL's provider modules that ship beside this file (a wheel's
        // own legacy module) are looked for there when the engine first runs.
        cSslUsePackageModules(orvane::module_file_folder(&orvane::certcheck::module_def).c_str());
        return PyModule_Create(&orvane::certcheck::module_def);
    });
}
