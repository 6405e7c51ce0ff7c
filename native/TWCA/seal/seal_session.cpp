// PyTWCASign: a signing session with its own facade, an optional store of
// signatures made in advance by a background thread, and the methods that
// reach one another through attribute lookup on the object (so a subclass
// that overrides one changes the others).
#include "seal_session.h"

#include <openssl/crypto.h>

#include <climits>
#include <new>
#include <string>

#include "common/args.h"
#include "common/classes.h"
#include "common/text.h"
#include "cBig5.h"
#include "cLog.h"
#include "seal_errors.h"
#include "seal_facade.h"
#include "seal_signer.h"
#include "seal_state.h"
#include "seal_text.h"

namespace orvane::seal {
namespace {

struct Session {
    PyObject_HEAD
    SealSigner* twca;                   // owned; deleted with the object
    char enced_pfx_passwd[kProtectedCapacity + 1];  // protected password; the last byte stays 0
    PyObject* ip;
    PyObject* encoding;
    PyObject* person_id;
    int person_id_len;
    PyObject* id_ip;
    PyObject* error_code_dict;
    PyObject* sign_store;
    int store;
    PyObject* store_threads;
};

// The object fields, in the order of the struct.
constexpr PyObject* Session::*kObjectFields[] = {
    &Session::ip, &Session::encoding, &Session::person_id, &Session::id_ip,
    &Session::error_code_dict, &Session::sign_store, &Session::store_threads,
};

Session* as_session(PyObject* self) { return reinterpret_cast<Session*>(self); }

void set_field(PyObject*& field, PyObject* value) {
    PyObject* old = field;
    Py_INCREF(value);
    field = value;
    Py_XDECREF(old);
}

// ---- construction -----------------------------------------------------------

// The code page of texts on this platform: "big5" where file names and texts
// are BIG5 (sys.platform "win32"), "utf8" elsewhere. Interned; borrowed.
PyObject* platform_encoding() {
    Ref sys = global(state.names.sys);
    if (!sys) return nullptr;
    Ref platform = Ref::steal(PyObject_GetAttr(sys.get(), state.names.platform));
    if (!platform) return nullptr;
    const int windows = PyObject_RichCompareBool(platform.get(), state.names.win32, Py_EQ);
    if (windows < 0) return nullptr;
    return windows ? state.names.big5 : state.names.utf8;
}

// The `store` argument as a 32-bit count: OverflowError outside the int range,
// ValueError when negative.
bool store_count(PyObject* value, int& out) {
    out = 0;
    if (!value) return true;
    Ref index = Ref::steal(PyNumber_Index(value));
    if (!index) return false;
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (v == -1 && PyErr_Occurred()) return false;
    if (overflow || v < INT_MIN || v > INT_MAX) {
        PyErr_SetString(PyExc_OverflowError, "value too large to convert to int");
        return false;
    }
    if (v < 0) {
        PyErr_Format(PyExc_ValueError, "store must be 0 or a positive count of signatures, not %lld", v);
        return false;
    }
    out = static_cast<int>(v);
    return true;
}

bool construct(Session* self, PyObject* seal_path_arg, PyObject* seal_passwd, PyObject* person_id,
               PyObject* ip, int store) {
    PyObject* me = reinterpret_cast<PyObject*>(self);
    self->twca = new SealSigner();  // std::bad_alloc: MemoryError (see session_new)
    Ref path_cls = global(state.names.Path);
    if (!path_cls) return false;
    Ref folder = Ref::steal(module_folder(path_cls.get()));
    if (!folder) return false;
    Ref seal_path = Ref::steal(call1(path_cls.get(), seal_path_arg));
    if (!seal_path) return false;

    Ref table = Ref::steal(module_error_table(folder.get()));
    if (!table) return false;
    if (table.get() != Py_None && !PyDict_Check(table.get())) {
        PyErr_Format(PyExc_TypeError, "error table must be dict or None, not %.200s",
                     Py_TYPE(table.get())->tp_name);
        return false;
    }
    set_field(self->error_code_dict, table.get());

    PyObject* activate_args[3] = {seal_path.get(), seal_passwd, folder.get()};
    Ref activated = Ref::steal(call_method(me, state.names.activate, activate_args, 3));
    if (!activated) return false;

    if (!str_or_none(person_id, "person_id")) return false;
    set_field(self->person_id, person_id);
    const Py_ssize_t id_len = PyObject_Length(person_id);
    if (id_len < 0) return false;
    if (id_len > INT_MAX) {
        PyErr_SetString(PyExc_OverflowError, "person_id is too long");
        return false;
    }
    self->person_id_len = static_cast<int>(id_len);

    if (!str_or_none(ip, "ip")) return false;
    set_field(self->ip, ip);

    PyObject* encoding = platform_encoding();
    if (!encoding) return false;
    set_field(self->encoding, encoding);

    Ref id_text = Ref::steal(format_str(person_id));
    Ref ip_text = Ref::steal(format_str(ip));
    if (!id_text || !ip_text) return false;
    Ref id_ip = Ref::steal(PyUnicode_Concat(id_text.get(), ip_text.get()));
    if (!id_ip) return false;
    set_field(self->id_ip, id_ip.get());

    self->store = store;
    if (store != 0) {
        Ref list = Ref::steal(PyList_New(0));
        if (!list) return false;
        set_field(self->sign_store, list.get());
        Ref thread_cls = global(state.names.Thread);
        if (!thread_cls) return false;
        Ref target = Ref::steal(PyObject_GetAttr(me, state.names.background_gen_store_sign));
        if (!target) return false;
        PyObject* kwargs[2] = {target.get(), Py_True};
        Ref thread = Ref::steal(vectorcall(thread_cls.get(), kwargs, 0, state.kw_thread));
        if (!thread) return false;
        Ref threads = Ref::steal(PyList_New(1));
        if (!threads) return false;
        Py_INCREF(thread.get());
        PyList_SET_ITEM(threads.get(), 0, thread.get());
        set_field(self->store_threads, threads.get());
        Ref started = Ref::steal(call_method(thread.get(), state.names.start, nullptr, 0));
        if (!started) return false;
    }
    return true;
}

PyObject* session_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
        static Params params("PyTWCASign", {"seal_path", "seal_passwd", "person_id", "ip", "store"}, 4);
        Args<5> argv;
        if (!params.parse_tuple(args, kwargs, argv)) return nullptr;
        int store = 0;
        if (!store_count(argv[4], store)) return nullptr;
        Ref obj = Ref::steal(type->tp_alloc(type, 0));
        if (!obj) return nullptr;
        Session* self = as_session(obj.get());
        for (PyObject* Session::*field : kObjectFields) set_field(self->*field, Py_None);
        if (!construct(self, argv[0], argv[1], argv[2], argv[3], store)) return nullptr;
        return obj.release();
    });
}

int session_traverse(PyObject* op, visitproc visit, void* arg) {
    Session* self = as_session(op);
    for (PyObject* Session::*field : kObjectFields) Py_VISIT(self->*field);
    return 0;
}

int session_clear(PyObject* op) {
    Session* self = as_session(op);
    if (self->error_code_dict) set_field(self->error_code_dict, Py_None);
    if (self->sign_store) set_field(self->sign_store, Py_None);
    if (self->store_threads) set_field(self->store_threads, Py_None);
    return 0;
}

void session_dealloc(PyObject* op) {
    Session* self = as_session(op);
    PyObject_GC_UnTrack(op);
    for (PyObject* Session::*field : kObjectFields) Py_CLEAR(self->*field);
    delete self->twca;
    self->twca = nullptr;
    OPENSSL_cleanse(self->enced_pfx_passwd, sizeof self->enced_pfx_passwd);
    Py_TYPE(op)->tp_free(op);
}

// ---- methods -------------------------------------------------------------------

PyObject* is_activate(PyObject* self, PyObject*) {
    return PyBool_FromLong(as_session(self)->twca->initialised());
}

// "p7Sign.properties." + xxh32 of the object's identity: one name per object,
// the same at every activation.
PyObject* properties_file_name(PyObject* me) {
    Ref identity = Ref::steal(PyLong_FromVoidPtr(me));
    if (!identity) return nullptr;
    Ref identity_text = Ref::steal(PyObject_Str(identity.get()));
    if (!identity_text) return nullptr;
    // xxhash hashes bytes (its current releases refuse str): the digest of
    // the decimal text's ASCII bytes.
    Ref identity_bytes = Ref::steal(PyUnicode_AsASCIIString(identity_text.get()));
    if (!identity_bytes) return nullptr;
    Ref xxhash = global(state.names.xxhash);
    if (!xxhash) return nullptr;
    PyObject* arg = identity_bytes.get();
    Ref digest = Ref::steal(call_method(xxhash.get(), state.names.xxh32_hexdigest, &arg, 1));
    if (!digest) return nullptr;
    Ref digest_text = Ref::steal(format_str(digest.get()));
    if (!digest_text) return nullptr;
    return PyUnicode_Concat(state.names.props_prefix, digest_text.get());
}

PyObject* activate(PyObject* me, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        static Params params("activate", {"seal_path", "seal_passwd", "folder_path"}, 3, 1);
        Args<3> argv;
        if (!params.parse(args, nargs, kwnames, argv)) return nullptr;
        Session* self = as_session(me);
        Ref name = Ref::steal(properties_file_name(me));
        if (!name) return nullptr;
        Ref tmpl = global(state.names.P7SIGN_PROPS);
        if (!tmpl) return nullptr;
        // The file holds the paths in the code page the platform names files
        // in, so the engine opens the file that init_seal would open.
        PyObject* encoding = platform_encoding();
        if (!encoding) return nullptr;
        Ref path_cls = global(state.names.Path);
        if (!path_cls) return nullptr;
        const Activation activation{name.get(), path_cls.get(), tmpl.get(), argv[0], argv[2],
                                    encoding,   argv[1],        state.names.big5};
        // One activation of this object at a time: they share the file name.
        return activate_facade(*self->twca, self->enced_pfx_passwd, activation, kSessionActivation,
                               ErrorReport::of_session(me), &self->twca->activation());
    });
}

// The text encoded with the session's encoding; UTF-8 without a codec lookup.
PyObject* encode_text(Session* self, PyObject* text) {
    if (PyUnicode_Check(self->encoding) &&
        PyUnicode_CompareWithASCIIString(self->encoding, "utf8") == 0) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
        if (!utf8) return nullptr;
        return PyBytes_FromStringAndSize(utf8, size);
    }
    return encode_str(text, self->encoding);
}

PyObject* get_sign(PyObject* me, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        static Params params("get_sign", {"plaintext"}, 0, 1);
        Args<1> argv;
        if (!params.parse(args, nargs, kwnames, argv)) return nullptr;
        Session* self = as_session(me);
        Ref text = Ref::steal(format_str(argv[0] ? argv[0] : state.names.empty));
        if (!text) return nullptr;
        Ref data = Ref::steal(encode_text(self, text.get()));
        if (!data) return nullptr;
        if (!PyBytes_Check(data.get())) {
            PyErr_Format(PyExc_TypeError, "encoding gave %.200s, not bytes", Py_TYPE(data.get())->tp_name);
            return nullptr;
        }
        return sign_data(*self->twca, data.get(), false, ErrorReport::of_session(me));
    });
}

PyObject* get_quote_sign(PyObject* me, PyObject* plain) {
    return guarded([&]() -> PyObject* {
        Ref text = Ref::steal(format_str(plain));
        if (!text) return nullptr;
        PyObject* arg = text.get();
        Ref signature = Ref::steal(call_method(me, state.names.get_sign, &arg, 1));
        if (!signature) return nullptr;
        return quote_signature(signature.get());
    });
}

PyObject* gen_sign_text(PyObject* me, PyObject* plain_text) {
    Session* self = as_session(me);
    Ref time_mod = global(state.names.time);
    if (!time_mod) return nullptr;
    Ref now = Ref::steal(call_method(time_mod.get(), state.names.time, nullptr, 0));
    if (!now) return nullptr;
    Ref parts[3] = {Ref::steal(format_str(self->id_ip)), Ref::steal(format_str(plain_text)),
                    Ref::steal(format_str(now.get()))};
    if (!parts[0] || !parts[1] || !parts[2]) return nullptr;
    Ref seq = Ref::steal(PyTuple_Pack(3, parts[0].get(), parts[1].get(), parts[2].get()));
    if (!seq) return nullptr;
    Ref text = Ref::steal(PyUnicode_Join(state.names.empty, seq.get()));
    if (!text) return nullptr;
    PyObject* arg = text.get();
    return call_method(me, state.names.get_quote_sign, &arg, 1);
}

// The `plain_text` argument of sign and gen_sign: "" when not given, else a
// str or None (TypeError otherwise). Borrowed (`argv` holds it), or null
// with an exception set.
PyObject* plain_text_argument(Params& params, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                              Args<1>& argv) {
    if (!params.parse(args, nargs, kwnames, argv)) return nullptr;
    PyObject* plain = argv[0] ? argv[0] : state.names.empty;
    return str_or_none(plain, "plain_text") ? plain : nullptr;
}

PyObject* gen_sign(PyObject* me, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        static Params params("gen_sign", {"plain_text"}, 0, 1);
        Args<1> argv;
        PyObject* plain = plain_text_argument(params, args, nargs, kwnames, argv);
        if (!plain) return nullptr;
        return gen_sign_text(me, plain);
    });
}

PyObject* sign(PyObject* me, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        static Params params("sign", {"plain_text"}, 0, 1);
        Args<1> argv;
        PyObject* plain = plain_text_argument(params, args, nargs, kwnames, argv);
        if (!plain) return nullptr;
        Session* self = as_session(me);
        if (self->store != 0) {
            // A ready signature when the store has one; an empty store signs
            // on the caller's thread below.
            PyObject* store = self->sign_store;
            if (!PyList_CheckExact(store) || PyList_GET_SIZE(store) > 0) {
                PyObject* ready = call_method(me, state.names.sign_speedup, nullptr, 0);
                if (ready) return ready;
                if (!PyErr_ExceptionMatches(PyExc_IndexError)) return nullptr;
                PyErr_Clear();
            }
        }
        PyObject* arg = plain;
        return call_method(me, state.names.gen_sign, &arg, 1);
    });
}

PyObject* gen_store_sign(PyObject* me, PyObject* count) {
    return guarded([&]() -> PyObject* {
        Ref index = Ref::steal(PyNumber_Index(count));
        if (!index) return nullptr;
        const Py_ssize_t n = PyLong_AsSsize_t(index.get());
        if (n == -1 && PyErr_Occurred()) return nullptr;
        // The batch is made first; nothing enters the store until it is whole.
        Ref batch = Ref::steal(PyList_New(0));
        if (!batch) return nullptr;
        for (Py_ssize_t i = 0; i < n; ++i) {
            Ref one = Ref::steal(call_method(me, state.names.gen_sign, nullptr, 0));
            if (!one || PyList_Append(batch.get(), one.get()) < 0) return nullptr;
        }
        // Read after the batch: the calls above may have cleared the object.
        Ref store = Ref::borrow(as_session(me)->sign_store);
        if (PyList_CheckExact(store.get())) {
            if (PyList_SetSlice(store.get(), PY_SSIZE_T_MAX, PY_SSIZE_T_MAX, batch.get()) < 0) return nullptr;
        } else {
            PyObject* arg = batch.get();
            Ref r = Ref::steal(call_method(store.get(), state.names.extend, &arg, 1));
            if (!r) return nullptr;
        }
        Py_RETURN_NONE;
    });
}

// Logs an exception of the store thread (the pending one, which is cleared)
// as an ERROR line of the signing log.
void log_store_failure() noexcept {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    Ref t = Ref::steal(type), v = Ref::steal(value), trace = Ref::steal(tb);
    Ref described = Ref::steal(v ? PyObject_Repr(v.get()) : nullptr);
    const char* utf8 = described ? PyUnicode_AsUTF8(described.get()) : nullptr;
    PyErr_Clear();
    // No Python code runs inside this handler (see background_gen_store_sign).
    // The description is converted to BIG5 only when the line is written; out
    // of memory while describing the failure drops the line.
    cLog::instance().error(BIG5_MSG("PyTWCASign::background_gen_store_sign() 背景產生簽章失敗"), [&] {
        std::string text;
        if (!utf8 || !utf8ToBig5(utf8, text)) text = "?";
        return text;
    });
}

// One round of the store thread: a batch when the store is below its target.
// False with an exception set when that failed.
bool store_round(PyObject* me, PyObject* batch) {
    Session* self = as_session(me);
    const Py_ssize_t held = PyObject_Length(self->sign_store);
    if (held < 0) return false;
    if (held >= self->store) return true;
    Ref r = Ref::steal(call_method(me, state.names.gen_store_sign, &batch, 1));
    return static_cast<bool>(r);
}

// The store thread's target: fills the store in batches of max(1, store // 10),
// sleeping one second between rounds, while `store` is not 0. A failed round
// is logged and the next round tries again; SystemExit, KeyboardInterrupt and
// the like end the thread.
//
// At interpreter exit a daemon thread waking from time.sleep is ended by
// unwinding its stack (pthread_exit) without the interpreter lock. So no C++
// handler encloses the loop (nothing in it throws), and no owned Python
// reference lives in this frame across the sleep: destructors would release
// Python objects unlocked.
PyObject* background_gen_store_sign(PyObject* me, PyObject*) {
    Session* self = as_session(me);
    const int batch_size = self->store / 10 > 1 ? self->store / 10 : 1;
    PyObject* batch = PyLong_FromLong(batch_size);
    if (!batch) return nullptr;
    while (self->store != 0) {
        if (!store_round(me, batch)) {
            if (!PyErr_ExceptionMatches(PyExc_Exception)) {
                Py_DECREF(batch);
                return nullptr;
            }
            log_store_failure();
        }
        // Borrowed on purpose (see above); the bound sleep keeps its module
        // alive for the length of the call.
        PyObject* time_mod = orvane::global(state.dict, state.names.time);
        PyObject* slept = time_mod ? call_method(time_mod, state.names.sleep, &state.one_second, 1) : nullptr;
        if (!slept) {
            Py_DECREF(batch);
            return nullptr;
        }
        Py_DECREF(slept);
    }
    Py_DECREF(batch);
    Py_RETURN_NONE;
}

PyObject* sign_speedup(PyObject* me, PyObject*) {
    PyObject* store = as_session(me)->sign_store;
    if (PyList_CheckExact(store)) {
        const Py_ssize_t n = PyList_GET_SIZE(store);
        if (n == 0) {
            PyErr_SetString(PyExc_IndexError, "pop from empty list");
            return nullptr;
        }
        PyObject* newest = PyList_GET_ITEM(store, n - 1);
        Py_INCREF(newest);
        if (PyList_SetSlice(store, n - 1, n, nullptr) < 0) {
            Py_DECREF(newest);
            return nullptr;
        }
        return newest;
    }
    Ref held = Ref::borrow(store);  // alive through its own method
    return call_method(held.get(), state.names.pop, nullptr, 0);
}

PyObject* gen_seal(PyObject* me, PyObject* plain) {
    return guarded([&]() -> PyObject* {
        Session* self = as_session(me);
        Ref quoted = Ref::steal(call_method(me, state.names.get_quote_sign, &plain, 1));
        if (!quoted) return nullptr;
        // Formatting the id may run its class's code: hold it meanwhile.
        Ref person_id = Ref::borrow(self->person_id);
        return payload(quoted.get(), person_id.get(), self->person_id_len);
    });
}

PyObject* raise_error_method(PyObject* me, PyObject* code) {
    return guarded([&]() -> PyObject* {
        // The table's `get` may run Python code that clears the object (a
        // garbage collection): hold the table for the length of the call.
        Ref table = Ref::borrow(as_session(me)->error_code_dict);
        return raise_error(code, table.get());
    });
}

PyObject* refuse_pickling(PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, "no default __reduce__ due to non-trivial __cinit__");
    return nullptr;
}

PyMethodDef session_methods[] = {
    {"is_activate", is_activate, METH_NOARGS, nullptr},
    {"activate", fast(activate), kFastKw, nullptr},
    {"get_sign", fast(get_sign), kFastKw, nullptr},
    {"get_quote_sign", get_quote_sign, METH_O, nullptr},
    {"sign", fast(sign), kFastKw, nullptr},
    {"gen_sign", fast(gen_sign), kFastKw, nullptr},
    {"gen_store_sign", gen_store_sign, METH_O, nullptr},
    {"background_gen_store_sign", background_gen_store_sign, METH_NOARGS, nullptr},
    {"sign_speedup", sign_speedup, METH_NOARGS, nullptr},
    {"gen_seal", gen_seal, METH_O, nullptr},
    {"raise_error", raise_error_method, METH_O, nullptr},
    {"__reduce__", refuse_pickling, METH_NOARGS, nullptr},
    {"__setstate__", refuse_pickling, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyTypeObject session_type_object = [] {
    PyTypeObject t = {PyVarObject_HEAD_INIT(nullptr, 0)};
    t.tp_name = "orvane.TWCA.seal.PyTWCASign";
    t.tp_basicsize = sizeof(Session);
    t.tp_dealloc = session_dealloc;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    t.tp_traverse = session_traverse;
    t.tp_clear = session_clear;
    t.tp_methods = session_methods;
    t.tp_new = session_new;
    t.tp_free = PyObject_GC_Del;
    return t;
}();

}  // namespace

PyTypeObject* session_type() {
    if (PyType_Ready(&session_type_object) < 0) return nullptr;
    return &session_type_object;
}

}  // namespace orvane::seal
