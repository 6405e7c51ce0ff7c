// orvane.TWCA.seal: module initialisation and the module-level functions that
// drive the process-wide signing facade.
#include <openssl/crypto.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "common/args.h"
#include "common/classes.h"
#include "common/names.h"
#include "cLog.h"
#include "seal_errors.h"
#include "seal_files.h"
#include "seal_props.h"
#include "seal_secret.h"
#include "seal_session.h"
#include "seal_signer.h"
#include "seal_state.h"
#include "seal_text.h"
#include "seal_unlocked.h"

namespace seal {

using orvane::Ref;

State g;

namespace {

// The facade of the module functions: set up before any call, destroyed at
// process exit. Its destruction is registered with atexit after it was
// built, and building it initialises OpenSSL (which registers OpenSSL's own
// clean-up), so the facade releases its key and certificate before OpenSSL
// tears down. A static destructor would run after that clean-up.
SealSigner* module_signer = nullptr;

void destroy_module_signer() {
    // Normally closed already by the interpreter's atexit callbacks; closing
    // again only waits for threads still inside the engine.
    EngineGate::instance().close();
    delete module_signer;
    module_signer = nullptr;
}

}  // namespace

bool intern_names() {
    Names& n = g.n;
    const orvane::Interned entries[] = {
        {&n.read_error_code_dict, "read_error_code_dict"},
        {&n.raise_error, "raise_error"},
        {&n.get_sign, "get_sign"},
        {&n.get_quote_sign, "get_quote_sign"},
        {&n.quote, "quote"},
        {&n.time, "time"},
        {&n.SealError, "SealError"},
        {&n.Path, "Path"},
        {&n.Thread, "Thread"},
        {&n.sys, "sys"},
        {&n.xxhash, "xxhash"},
        {&n.P7SIGN_PROPS, "P7SIGN_PROPS"},
        {&n.file, "__file__"},
        {&n.parent, "parent"},
        {&n.name, "name"},
        {&n.joinpath, "joinpath"},
        {&n.read_bytes, "read_bytes"},
        {&n.write_bytes, "write_bytes"},
        {&n.exists, "exists"},
        {&n.unlink, "unlink"},
        {&n.decode, "decode"},
        {&n.encode, "encode"},
        {&n.get, "get"},
        {&n.format, "format"},
        {&n.platform, "platform"},
        {&n.sleep, "sleep"},
        {&n.xxh32_hexdigest, "xxh32_hexdigest"},
        {&n.start, "start"},
        {&n.extend, "extend"},
        {&n.pop, "pop"},
        {&n.activate, "activate"},
        {&n.m_get_sign, "get_sign"},
        {&n.m_get_quote_sign, "get_quote_sign"},
        {&n.gen_sign, "gen_sign"},
        {&n.gen_store_sign, "gen_store_sign"},
        {&n.sign_speedup, "sign_speedup"},
        {&n.m_raise_error, "raise_error"},
        {&n.background_gen_store_sign, "background_gen_store_sign"},
        {&n.seal_path_folder, "seal_path_folder"},
        {&n.seal_name, "seal_name"},
        {&n.p7b_path, "p7b_path"},
        {&n.error, "error"},
        {&n.error_msg, "error_msg"},
        {&n.empty, ""},
        {&n.cError_h, "cError.h"},
        {&n.P7B, "P7B"},
        {&n.utf8, "utf8"},
        {&n.big5, "big5"},
        {&n.crlf, "\r\n"},
        {&n.define, "#define"},
        {&n.blank, " "},
        {&n.comment, "// "},
        {&n.win32, "win32"},
        {&n.props_file, "p7Sign.properties"},
        {&n.props_prefix, "p7Sign.properties."},
    };
    if (!orvane::intern_all(entries)) return false;
    Ref safe = Ref::steal(PyUnicode_InternFromString("safe"));
    if (!safe) return false;
    n.kw_safe = PyTuple_Pack(1, safe.get());
    if (!n.kw_safe) return false;
    Ref target = Ref::steal(PyUnicode_InternFromString("target"));
    Ref daemon = Ref::steal(PyUnicode_InternFromString("daemon"));
    if (!target || !daemon) return false;
    n.kw_thread = PyTuple_Pack(2, target.get(), daemon.get());
    n.half_second = PyFloat_FromDouble(0.5);
    n.one_second = PyLong_FromLong(1);
    return n.kw_thread && n.half_second && n.one_second;
}

orvane::Ref global(PyObject* name) { return Ref::borrow(orvane::global(g.dict, name)); }

PyObject* module_folder(PyObject* path_cls) {
    Ref file = global(g.n.file);
    if (!file) return nullptr;
    Ref p = Ref::steal(orvane::call1(path_cls, file.get()));
    if (!p) return nullptr;
    return PyObject_GetAttr(p.get(), g.n.parent);
}

namespace {

// `from pathlib import Path`, as init_seal does inside its body.
PyObject* import_path_class() {
    Ref pathlib = Ref::steal(PyImport_ImportModule("pathlib"));
    if (!pathlib) return nullptr;
    return PyObject_GetAttr(pathlib.get(), g.n.Path);
}

double seconds(PyObject* value) {
    return value ? PyFloat_AsDouble(value) : -1.0;
}

// Waits while another initialisation's "p7Sign.properties" is there (a
// link counts, dangling or not): steps of 0.5 s; after 5 s whatever is at
// the name is taken as stale and removed (a link itself, never its target).
bool wait_for_stale_properties(PropertiesFile& file) {
    Ref time_mod = global(g.n.time);
    if (!time_mod) return false;
    Ref now = Ref::steal(orvane::call_method(time_mod.get(), g.n.time, nullptr, 0));
    const double start = seconds(now.get());
    if (start == -1.0 && PyErr_Occurred()) return false;
    for (;;) {
        const int there = file.present();
        if (there < 0) return false;
        if (!there) return true;
        time_mod = global(g.n.time);
        if (!time_mod) return false;
        Ref slept = Ref::steal(orvane::call_method(time_mod.get(), g.n.sleep, &g.n.half_second, 1));
        if (!slept) return false;
        time_mod = global(g.n.time);
        if (!time_mod) return false;
        Ref later = Ref::steal(orvane::call_method(time_mod.get(), g.n.time, nullptr, 0));
        const double t = seconds(later.get());
        if (t == -1.0 && PyErr_Occurred()) return false;
        if (t - start >= 5.0) return file.remove();
    }
}

// Writes the properties file once no other initialisation's file is there.
// When one appears between the wait and the creation, it is waited for too.
bool write_after_stale_properties(PropertiesFile& file, PyObject* content) {
    for (;;) {
        if (!wait_for_stale_properties(file)) return false;
        const int created = file.create(content);
        if (created != 0) return created > 0;
    }
}

// The builtin `print` applied to `text`.
bool print_line(const char* text) {
    static PyObject* const name = PyUnicode_InternFromString("print");  // kept for the process
    if (!name) return PyErr_Occurred() ? false : (PyErr_NoMemory(), false);
    PyObject* builtins = PyEval_GetBuiltins();
    Ref print = Ref::borrow(builtins ? PyDict_GetItemWithError(builtins, name) : nullptr);
    if (!print) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_NameError, "name 'print' is not defined");
        return false;
    }
    Ref line = Ref::steal(PyUnicode_FromString(text));
    if (!line) return false;
    Ref printed = Ref::steal(orvane::call1(print.get(), line.get()));
    return static_cast<bool>(printed);
}

PyObject* init_seal(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames) {
    return orvane::guarded([&]() -> PyObject* {
        static orvane::Params P("init_seal", {"seal_path", "seal_pwd"}, 0);
        orvane::Args<2> argv;
        if (!P.parse(args, nargs, kwnames, argv)) return nullptr;
        Ref default_path;
        if (!argv[0]) {
            default_path = Ref::steal(PyUnicode_FromString("Tavrel.pfx"));
            if (!default_path) return nullptr;
            argv[0] = default_path.get();
        }
        if (!argv[1]) argv[1] = g.n.empty;

        Ref path_cls = Ref::steal(import_path_class());
        if (!path_cls) return nullptr;
        Ref folder = Ref::steal(module_folder(path_cls.get()));
        if (!folder) return nullptr;
        Ref seal_path = Ref::steal(orvane::call1(path_cls.get(), argv[0]));
        if (!seal_path) return nullptr;
        Ref reader = global(g.n.read_error_code_dict);
        if (!reader) return nullptr;
        Ref table = Ref::steal(orvane::call1(reader.get(), folder.get()));
        if (!table) return nullptr;
        Ref props = Ref::steal(orvane::call1(path_cls.get(), g.n.props_file));
        if (!props) return nullptr;
        Ref tmpl = Ref::steal(PyUnicode_FromString(kInitProps));
        if (!tmpl) return nullptr;
        Ref content = Ref::steal(properties_content(tmpl.get(), seal_path.get(), folder.get(), g.n.utf8));
        if (!content) return nullptr;

        PropertiesFile file;
        if (!file.take_name(props.get())) return nullptr;
        if (!write_after_stale_properties(file, content.get())) return nullptr;
        SecretText plain;
        if (!plain.take(argv[1], g.n.utf8)) return nullptr;
        const std::string engine_file(file.engine_name());

        // The engine reads the properties and the credential, and derives
        // the PKCS#12 keys, without the interpreter lock.
        SecretBuffer enced;
        int code = run_unlocked([&] {
            int capacity = kProtectedCapacity;
            const int made = module_signer->makePasswd(enced.data, &capacity, engine_file.c_str(),
                                                       plain.c_str());
            cLog::instance().debug("MakeTWCASignPasswd() return ", made);
            return made;
        });
        plain.wipe();
        if (code != 0) {
            if (!file.remove()) return nullptr;
            Ref r = Ref::steal(call_module_raise_error(code, table.get()));
            if (!r) return nullptr;
        }
        code = run_unlocked([&] {
            const int done = module_signer->initial(engine_file.c_str(), enced.data);
            cLog::instance().debug("TWCASignInitial() return ", done);
            return done;
        });
        if (code != 0) {
            if (!file.remove()) return nullptr;
            Ref r = Ref::steal(call_module_raise_error(code, table.get()));
            if (!r) return nullptr;
        }
        if (!file.remove()) return nullptr;
        if (!print_line("Seal Initial Done.")) return nullptr;
        return PyLong_FromLong(code);
    });
}

// Signs `text` (a str) with the module facade after encoding it "big5";
// a failed signing raises through raise_error with the table of the module
// folder.
PyObject* module_sign(PyObject* text) {
    Ref data = Ref::steal(PyUnicode_AsEncodedString(text, "big5", "strict"));
    if (!data) return nullptr;
    if (!reject_embedded_nul(data.get())) return nullptr;
    const std::string bytes(PyBytes_AS_STRING(data.get()), static_cast<size_t>(PyBytes_GET_SIZE(data.get())));
    std::string signature;
    const int code = run_unlocked([&] {
        const int signed_code = module_signer->sign(bytes.c_str(), signature);
        cLog::instance().debug("SignPkcs7() return ", signed_code);
        return signed_code;
    });
    if (code == 0) {
        return PyBytes_FromStringAndSize(signature.data(), static_cast<Py_ssize_t>(signature.size()));
    }
    Ref path_cls = Ref::steal(import_path_class());
    if (!path_cls) return nullptr;
    Ref folder = Ref::steal(module_folder(path_cls.get()));
    if (!folder) return nullptr;
    Ref reader = global(g.n.read_error_code_dict);
    if (!reader) return nullptr;
    Ref table = Ref::steal(orvane::call1(reader.get(), folder.get()));
    if (!table) return nullptr;
    Ref r = Ref::steal(call_module_raise_error(code, table.get()));
    if (!r) return nullptr;
    // raise_error was replaced by something that returns: no signature.
    return PyBytes_FromStringAndSize(nullptr, 0);
}

PyObject* get_sign(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames) {
    return orvane::guarded([&]() -> PyObject* {
        static orvane::Params P("get_sign", {"plaintext"}, 0);
        orvane::Args<1> argv;
        if (!P.parse(args, nargs, kwnames, argv)) return nullptr;
        Ref text = Ref::steal(format_str(argv[0] ? argv[0] : g.n.empty));
        if (!text) return nullptr;
        return module_sign(text.get());
    });
}

PyObject* get_quote_sign(PyObject* /*module*/, PyObject* plain) {
    return orvane::guarded([&]() -> PyObject* {
        Ref text = Ref::steal(format_str(plain));
        if (!text) return nullptr;
        Ref fn = global(g.n.get_sign);
        if (!fn) return nullptr;
        Ref signature = Ref::steal(orvane::call1(fn.get(), text.get()));
        if (!signature) return nullptr;
        return quote_signature(signature.get());
    });
}

PyObject* gen_seal(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames) {
    return orvane::guarded([&]() -> PyObject* {
        static orvane::Params P("gen_seal", {"user_id", "plain"}, 2);
        orvane::Args<2> argv;
        if (!P.parse(args, nargs, kwnames, argv)) return nullptr;
        Ref fn = global(g.n.get_quote_sign);
        if (!fn) return nullptr;
        Ref quoted = Ref::steal(orvane::call1(fn.get(), argv[1]));
        if (!quoted) return nullptr;
        return payload(quoted.get(), argv[0], -1);
    });
}

PyObject* read_error_code_dict_fn(PyObject* /*module*/, PyObject* folder_path) {
    return orvane::guarded([&]() -> PyObject* { return read_error_code_dict(folder_path); });
}

PyObject* raise_error_fn(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
    return orvane::guarded([&]() -> PyObject* {
        static orvane::Params P("raise_error", {"return_code", "error_code_dict"}, 2);
        orvane::Args<2> argv;
        if (!P.parse(args, nargs, kwnames, argv)) return nullptr;
        return raise_error(argv[0], argv[1]);
    });
}

PyMethodDef module_functions[] = {
    {"read_error_code_dict", read_error_code_dict_fn, METH_O, nullptr},
    {"raise_error", orvane::fast(raise_error_fn), orvane::kFastKw, nullptr},
    {"init_seal", orvane::fast(init_seal), orvane::kFastKw, nullptr},
    {"get_sign", orvane::fast(get_sign), orvane::kFastKw, nullptr},
    {"get_quote_sign", get_quote_sign, METH_O, nullptr},
    {"gen_seal", orvane::fast(gen_seal), orvane::kFastKw, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "orvane.TWCA.seal", nullptr, -1, nullptr, nullptr, nullptr, nullptr, nullptr,
};

bool bind(PyObject* module, const char* name, PyObject* value) {
    return orvane::bind(module, name, value);
}

bool init_module(PyObject* module) {
    g.module = module;
    g.dict = PyModule_GetDict(module);
    if (!intern_names()) return false;
    if (!module_signer) {
        module_signer = new SealSigner();
        if (std::atexit(destroy_module_signer) != 0) {
            PyErr_SetString(PyExc_RuntimeError, "cannot register the signer's clean-up");
            return false;
        }
    }
    if (!register_gate_closing()) return false;

    PyTypeObject* type = session_type();
    if (!type) return false;
    Py_INCREF(type);
    if (!bind(module, "PyTWCASign", reinterpret_cast<PyObject*>(type))) return false;
    if (!orvane::import_as(module, "sys", "sys") || !orvane::import_as(module, "time", "time") ||
        !orvane::import_as(module, "xxhash", "xxhash") ||
        !orvane::import_from(module, "pathlib", {"Path"}) ||
        !orvane::import_from(module, "threading", {"Thread"}) ||
        !orvane::import_from(module, "urllib.parse", {"quote"}))
        return false;
    g.urllib_quote = PyDict_GetItemWithError(g.dict, g.n.quote);
    if (!g.urllib_quote) return false;
    Py_INCREF(g.urllib_quote);
    if (!bind(module, "P7SIGN_PROPS", PyUnicode_FromString(kSessionProps))) return false;
    if (!bind(module, "SealError",
              PyErr_NewExceptionWithDoc("orvane.TWCA.seal.SealError", "Seal Error", PyExc_Exception,
                                        nullptr)))
        return false;
    Ref modname = Ref::steal(PyUnicode_FromString("orvane.TWCA.seal"));
    if (!modname) return false;
    for (PyMethodDef* def = module_functions; def->ml_name; ++def) {
        if (!bind(module, def->ml_name, PyCFunction_NewEx(def, module, modname.get()))) return false;
    }
    return true;
}

}  // namespace
}  // namespace seal

ORVANE_MODINIT PyInit_seal(void) {
    return orvane::guarded([]() -> PyObject* {
        orvane::Ref module = orvane::Ref::steal(PyModule_Create(&seal::module_def));
        if (!module) return nullptr;
        if (!seal::init_module(module.get())) return nullptr;
        Py_INCREF(module.get());  // the state keeps the module for the process
        return module.release();
    });
}
