// orvane.TWCA._certcheck: the signing engine as the certificate check command
// needs it. Two functions:
//
//   check(properties_file, password, probe) -> dict
//       loads the PKCS#12 file named by the properties file with the password
//       the way a signing session does, reads its certificate, signs the probe
//       text and verifies the signature against the file's certificate.
//   encryption(path) -> dict | None
//       how the file is protected (no password needed); None when the file is
//       not DER PKCS#12.
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
#include "common/args.h"
#include "common/classes.h"
#include "common/ref.h"

#include <cstring>
#include <new>
#include <string>

#include <openssl/err.h>

#include "pfx_check.h"
#include "pfx_encryption.h"
#include "cProperty.h"
#include "cSslPtr.h"

namespace {

using orvane::Ref;

// A zero-terminated byte argument: `what` must be bytes without NUL.
bool bytesArgument(PyObject* value, const char* fname, const char* what, bool allowEmpty, const char** out) {
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
    if (!allowEmpty && size == 0) {
        PyErr_Format(PyExc_ValueError, "%s() argument '%s' must not be empty", fname, what);
        return false;
    }
    *out = data;
    return true;
}

// A path argument (str or os.PathLike) as file-system bytes.
Ref pathArgument(PyObject* value) {
    PyObject* encoded = nullptr;
    if (!PyUnicode_FSConverter(value, &encoded)) return Ref();
    return Ref::steal(encoded);
}

bool setItem(PyObject* dict, const char* key, PyObject* value) {
    Ref v = Ref::steal(value);
    return v && PyDict_SetItemString(dict, key, v.get()) == 0;
}

PyObject* codeOrNone(int code) {
    if (code < 0) Py_RETURN_NONE;
    return PyLong_FromLong(code);
}

PyObject* text(const std::string& s) {
    // Certificate texts are bytes of the one-line form; keep every byte.
    return PyUnicode_DecodeLatin1(s.data(), static_cast<Py_ssize_t>(s.size()), nullptr);
}

PyObject* checkResult(const PfxCheck& r) {
    Ref d = Ref::steal(PyDict_New());
    if (!d) return nullptr;
    PyObject* dict = d.get();
    if (!setItem(dict, "protect", codeOrNone(r.protect)) || !setItem(dict, "load", codeOrNone(r.load)) ||
        !setItem(dict, "validity", codeOrNone(r.validity)) ||
        !setItem(dict, "key_usage_check", codeOrNone(r.keyUsageCheck)) ||
        !setItem(dict, "sign", codeOrNone(r.sign)))
        return nullptr;
    if (r.load == 0) {
        if (!setItem(dict, "subject", text(r.subject)) || !setItem(dict, "issuer", text(r.issuer)) ||
            !setItem(dict, "serial", text(r.serial)) || !setItem(dict, "not_before", text(r.notBefore)) ||
            !setItem(dict, "not_after", text(r.notAfter)) ||
            !setItem(dict, "key_usage", r.hasKeyUsage ? PyLong_FromLong(r.keyUsage) : orvane::new_ref(Py_None)) ||
            !setItem(dict, "extra_certificates", PyLong_FromLong(r.extraCertificates)))
            return nullptr;
    }
    if (r.sign == 0) {
        if (!setItem(dict, "verified", PyBool_FromLong(r.verified)) ||
            !setItem(dict, "verify_error", r.verified ? orvane::new_ref(Py_None) : text(r.verifyError)))
            return nullptr;
    }
    return d.release();
}

PyObject* check(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static orvane::Params P("check", {"properties_file", "password", "probe"}, 3);
    orvane::Args<3> argv;
    if (!P.parse(args, nargs, kwnames, argv)) return nullptr;
    try {
        Ref props = pathArgument(argv[0]);
        if (!props) return nullptr;
        const char* password = nullptr;
        const char* probe = nullptr;
        if (!bytesArgument(argv[1], "check", "password", true, &password) ||
            !bytesArgument(argv[2], "check", "probe", false, &probe))
            return nullptr;
        PfxCheck result;
        runPfxCheck(PyBytes_AS_STRING(props.get()), password, probe, result);
        return checkResult(result);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "check() failed inside the signing engine");
        return nullptr;
    }
}

PyObject* encryption(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static orvane::Params P("encryption", {"path"}, 1);
    orvane::Args<1> argv;
    if (!P.parse(args, nargs, kwnames, argv)) return nullptr;
    try {
        Ref path = pathArgument(argv[0]);
        if (!path) return nullptr;
        PfxEncryption info;
        readPfxEncryption(PyBytes_AS_STRING(path.get()), info);
        if (!info.parsed) Py_RETURN_NONE;
        Ref algorithms = Ref::steal(PyList_New(0));
        if (!algorithms) return nullptr;
        for (const std::string& name : info.algorithms) {
            Ref s = Ref::steal(text(name));
            if (!s || PyList_Append(algorithms.get(), s.get()) < 0) return nullptr;
        }
        Ref d = Ref::steal(PyDict_New());
        if (!d || !setItem(d.get(), "algorithms", algorithms.release()) ||
            !setItem(d.get(), "legacy", PyBool_FromLong(info.legacy)) ||
            !setItem(d.get(), "mac", info.mac.empty() ? orvane::new_ref(Py_None) : text(info.mac)) ||
            !setItem(d.get(), "mac_iterations", PyLong_FromLong(info.macIterations)))
            return nullptr;
        return d.release();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "encryption() failed");
        return nullptr;
    }
}

PyObject* verify(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static orvane::Params P("verify", {"signature", "certificate", "content"}, 3);
    orvane::Args<3> argv;
    if (!P.parse(args, nargs, kwnames, argv)) return nullptr;
    try {
        const char* signature = nullptr;
        if (!bytesArgument(argv[0], "verify", "signature", true, &signature)) return nullptr;
        char* der = nullptr;
        Py_ssize_t derLen = 0;
        char* content = nullptr;
        Py_ssize_t contentLen = 0;
        if (PyBytes_AsStringAndSize(argv[1], &der, &derLen) < 0 ||
            PyBytes_AsStringAndSize(argv[2], &content, &contentLen) < 0)
            return nullptr;
        const unsigned char* p = reinterpret_cast<const unsigned char*>(der);
        X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(derLen)));
        ERR_clear_error();
        if (!cert) {
            PyErr_SetString(PyExc_ValueError, "verify() argument 'certificate' is not a DER certificate");
            return nullptr;
        }
        std::string error;
        if (verifyProbe(signature, cert.get(), std::string(content, static_cast<size_t>(contentLen)), error))
            Py_RETURN_NONE;
        return text(error);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "verify() failed");
        return nullptr;
    }
}

PyObject* fits_property(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static orvane::Params P("fits_property", {"name", "value"}, 2);
    orvane::Args<2> argv;
    return orvane::guarded([&]() -> PyObject* {
        if (!P.parse(args, nargs, kwnames, argv)) return nullptr;
        const char* name = nullptr;
        if (!bytesArgument(argv[0], "fits_property", "name", false, &name)) return nullptr;
        char* value = nullptr;
        Py_ssize_t size = 0;
        if (PyBytes_AsStringAndSize(argv[1], &value, &size) < 0) return nullptr;
        return PyBool_FromLong(cProperty::fitsLine(name, value, static_cast<size_t>(size)));
    });
}

PyMethodDef methods[] = {
    {"check", orvane::fast(check), METH_FASTCALL | METH_KEYWORDS,
     "check($module, /, properties_file, password, probe)\n--\n\n"
     "Loads the PKCS#12 file the properties name, reads its certificate, signs\n"
     "the probe and verifies the signature; a dict of engine codes and facts."},
    {"encryption", orvane::fast(encryption), METH_FASTCALL | METH_KEYWORDS,
     "encryption($module, /, path)\n--\n\n"
     "How a PKCS#12 file is protected; None when it is not DER PKCS#12."},
    {"verify", orvane::fast(verify), METH_FASTCALL | METH_KEYWORDS,
     "verify($module, /, signature, certificate, content)\n--\n\n"
     "Checks a base64 PKCS#7 signature with embedded content against the DER\n"
     "certificate alone and the expected content: None, or why it fails."},
    {"fits_property", orvane::fast(fits_property), METH_FASTCALL | METH_KEYWORDS,
     "fits_property($module, /, name, value)\n--\n\n"
     "Whether the properties line \"name = value\" is read back by the engine as\n"
     "written (no line break or NUL, no blank at either end, short enough)."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module = {
    PyModuleDef_HEAD_INIT,
    "orvane.TWCA._certcheck",
    "The signing engine as the certificate check command uses it (private).",
    -1,
    methods,
};

}  // namespace

ORVANE_MODINIT PyInit__certcheck(void) {
    return PyModule_Create(&module);
}
