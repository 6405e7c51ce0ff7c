// orvane.TWCA.seal: module initialisation and the module-level functions that
// drive the process-wide signing facade.
#include <cstdlib>

#include "common/args.h"
#include "common/classes.h"
#include "common/module_file.h"
#include "common/names.h"
#include "common/text.h"
#include "cLog.h"
#include "cSsl.h"
#include "seal_errors.h"
#include "seal_facade.h"
#include "seal_props.h"
#include "seal_secret.h"
#include "seal_session.h"
#include "seal_signer.h"
#include "seal_state.h"
#include "seal_text.h"
#include "seal_unlocked.h"

namespace orvane::seal {

State state;

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

bool State::init(PyObject* module_object) {
    module = module_object;
    dict = PyModule_GetDict(module_object);
    if (!names.init()) return false;
    kw_safe = PyTuple_Pack(1, names.safe);
    kw_thread = PyTuple_Pack(2, names.target, names.daemon);
    half_second = PyFloat_FromDouble(0.5);
    one_second = PyLong_FromLong(1);
    return kw_safe && kw_thread && half_second && one_second;
}

PyObject* pathlib_path() {
    Ref pathlib = Ref::steal(PyImport_ImportModule("pathlib"));
    if (!pathlib) return nullptr;
    return PyObject_GetAttr(pathlib.get(), state.names.Path);
}

PyObject* module_folder(PyObject* path_cls) {
    Ref file = global(state.names.dunder_file);
    if (!file) return nullptr;
    Ref p = Ref::steal(call1(path_cls, file.get()));
    if (!p) return nullptr;
    return PyObject_GetAttr(p.get(), state.names.parent);
}

namespace {

PyObject* init_seal(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        static Params params("init_seal", {"seal_path", "seal_pwd"}, 0);
        Args<2> argv;
        if (!params.parse(args, nargs, kwnames, argv)) return nullptr;
        Ref default_path;
        if (!argv[0]) {
            default_path = Ref::steal(PyUnicode_FromString("Tavrel.pfx"));
            if (!default_path) return nullptr;
            argv[0] = default_path.get();
        }
        if (!argv[1]) argv[1] = state.names.empty;

        Ref path_cls = Ref::steal(pathlib_path());
        if (!path_cls) return nullptr;
        Ref folder = Ref::steal(module_folder(path_cls.get()));
        if (!folder) return nullptr;
        Ref seal_path = Ref::steal(call1(path_cls.get(), argv[0]));
        if (!seal_path) return nullptr;
        Ref table = Ref::steal(module_error_table(folder.get()));
        if (!table) return nullptr;
        Ref tmpl = Ref::steal(PyUnicode_FromString(kInitProps));
        if (!tmpl) return nullptr;
        const Activation activation{state.names.props_file, path_cls.get(), tmpl.get(),
                                    seal_path.get(), folder.get(), state.names.utf8,
                                    argv[1], state.names.utf8};
        SecretBuffer enced;
        return activate_facade(*module_signer, enced.data, activation, kInitSeal,
                               ErrorReport::of_module(table.get()), nullptr);
    });
}

// Signs `text` (a str) with the module facade after encoding it "big5";
// a failed signing raises through raise_error with the table of the module
// folder.
PyObject* module_sign(PyObject* text) {
    Ref data = Ref::steal(PyUnicode_AsEncodedString(text, "big5", "strict"));
    if (!data) return nullptr;
    return sign_data(*module_signer, data.get(), true, ErrorReport::of_module(nullptr));
}

PyObject* get_sign(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        static Params params("get_sign", {"plaintext"}, 0);
        Args<1> argv;
        if (!params.parse(args, nargs, kwnames, argv)) return nullptr;
        Ref text = Ref::steal(format_str(argv[0] ? argv[0] : state.names.empty));
        if (!text) return nullptr;
        return module_sign(text.get());
    });
}

PyObject* get_quote_sign(PyObject* /*module*/, PyObject* plain) {
    return guarded([&]() -> PyObject* {
        Ref text = Ref::steal(format_str(plain));
        if (!text) return nullptr;
        PyObject* arg = text.get();
        Ref signature = Ref::steal(call_global(state.dict, state.names.get_sign, &arg, 1));
        if (!signature) return nullptr;
        return quote_signature(signature.get());
    });
}

PyObject* gen_seal(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        static Params params("gen_seal", {"user_id", "plain"}, 2);
        Args<2> argv;
        if (!params.parse(args, nargs, kwnames, argv)) return nullptr;
        Ref quoted = Ref::steal(call_global(state.dict, state.names.get_quote_sign, &argv[1], 1));
        if (!quoted) return nullptr;
        return payload(quoted.get(), argv[0], -1);
    });
}

PyObject* read_error_code_dict_fn(PyObject* /*module*/, PyObject* folder_path) {
    return guarded([&]() -> PyObject* { return read_error_code_dict(folder_path); });
}

PyObject* raise_error_fn(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        static Params params("raise_error", {"return_code", "error_code_dict"}, 2);
        Args<2> argv;
        if (!params.parse(args, nargs, kwnames, argv)) return nullptr;
        return raise_error(argv[0], argv[1]);
    });
}

PyMethodDef module_functions[] = {
    {"read_error_code_dict", read_error_code_dict_fn, METH_O, nullptr},
    {"raise_error", fast(raise_error_fn), kFastKw, nullptr},
    {"init_seal", fast(init_seal), kFastKw, nullptr},
    {"get_sign", fast(get_sign), kFastKw, nullptr},
    {"get_quote_sign", get_quote_sign, METH_O, nullptr},
    {"gen_seal", fast(gen_seal), kFastKw, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "orvane.TWCA.seal", nullptr, -1, nullptr, nullptr, nullptr, nullptr, nullptr,
};

bool init_module(PyObject* module) {
    if (!state.init(module)) return false;
    if (!module_signer) {
        // OpenSSL's provider modules that ship beside this file (a wheel's
        // own legacy module) are chosen before the facade loads the providers.
        cSslUsePackageModules(module_file_folder(&module_def).c_str());
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
    if (!import_as(module, "sys", "sys") || !import_as(module, "time", "time") ||
        !import_as(module, "xxhash", "xxhash") ||
        !import_from(module, "pathlib", {"Path"}) ||
        !import_from(module, "threading", {"Thread"}) ||
        !import_from(module, "urllib.parse", {"quote"}))
        return false;
    state.urllib_quote = PyDict_GetItemWithError(state.dict, state.names.quote);
    if (!state.urllib_quote) return false;
    Py_INCREF(state.urllib_quote);
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
}  // namespace orvane::seal

ORVANE_MODINIT PyInit_seal(void) {
    return orvane::guarded([]() -> PyObject* {
        orvane::Ref module = orvane::Ref::steal(PyModule_Create(&orvane::seal::module_def));
        if (!module) return nullptr;
        if (!orvane::seal::init_module(module.get())) return nullptr;
        Py_INCREF(module.get());  // the state keeps the module for the process
        return module.release();
    });
}
