// Module-wide state of orvane.TWCA.seal: the module namespace, the interned
// names it looks up, and the objects made once at initialisation.
//
// The module is initialised once per process (single-phase initialisation),
// so the state is one static object filled by PyInit_seal and kept for the
// life of the process.
#pragma once

#include "common/classes.h"
#include "common/names.h"
#include "common/ref.h"

namespace orvane::seal {

#define SEAL_NAMES(X)                                        \
    /* Module globals looked up at each call. */             \
    X(read_error_code_dict, "read_error_code_dict")          \
    X(raise_error, "raise_error")                            \
    X(get_sign, "get_sign")                                  \
    X(get_quote_sign, "get_quote_sign")                      \
    X(quote, "quote")                                        \
    X(time, "time")                                          \
    X(SealError, "SealError")                                \
    X(Path, "Path")                                          \
    X(Thread, "Thread")                                      \
    X(sys, "sys")                                            \
    X(xxhash, "xxhash")                                      \
    X(P7SIGN_PROPS, "P7SIGN_PROPS")                          \
    X(dunder_file, "__file__")                               \
    X(print, "print")                                        \
    /* Attributes and methods called on objects. */          \
    X(parent, "parent")                                      \
    X(name, "name")                                          \
    X(joinpath, "joinpath")                                  \
    X(read_bytes, "read_bytes")                              \
    X(decode, "decode")                                      \
    X(encode, "encode")                                      \
    X(get, "get")                                            \
    X(format, "format")                                      \
    X(platform, "platform")                                  \
    X(sleep, "sleep")                                        \
    X(xxh32_hexdigest, "xxh32_hexdigest")                    \
    X(start, "start")                                        \
    X(extend, "extend")                                      \
    X(pop, "pop")                                            \
    X(activate, "activate")                                  \
    X(gen_sign, "gen_sign")                                  \
    X(gen_store_sign, "gen_store_sign")                      \
    X(sign_speedup, "sign_speedup")                          \
    X(background_gen_store_sign, "background_gen_store_sign") \
    X(atexit_register, "register")                           \
    /* Keyword names and constant texts. */                  \
    X(safe, "safe")                                          \
    X(target, "target")                                      \
    X(daemon, "daemon")                                      \
    X(seal_path_folder, "seal_path_folder")                  \
    X(seal_name, "seal_name")                                \
    X(p7b_path, "p7b_path")                                  \
    X(error, "error")                                        \
    X(error_msg, "error_msg")                                \
    X(empty, "")                                             \
    X(cError_h, "cError.h")                                  \
    X(P7B, "P7B")                                            \
    X(utf8, "utf8")                                          \
    X(big5, "big5")                                          \
    X(crlf, "\r\n")                                          \
    X(define, "#define")                                     \
    X(blank, " ")                                            \
    X(comment, "// ")                                        \
    X(win32, "win32")                                        \
    X(props_file, "p7Sign.properties")                       \
    X(props_prefix, "p7Sign.properties.")

ORVANE_INTERNED(Names, SEAL_NAMES);

// The output area of MakeTWCASignPasswd: 512 bytes of capacity, plus one
// byte that stays zero. A protected text of exactly 512 characters fills the
// area without a terminator, and TWCASignInitial reads it as a C string.
constexpr int kProtectedCapacity = 512;

struct State {
    PyObject* module = nullptr;        // strong reference, kept for the process
    PyObject* dict = nullptr;          // the module namespace (borrowed from module)
    PyObject* urllib_quote = nullptr;  // urllib.parse.quote as imported
    PyObject* kw_safe = nullptr;       // ("safe",)
    PyObject* kw_thread = nullptr;     // ("target", "daemon")
    PyObject* half_second = nullptr;   // 0.5
    PyObject* one_second = nullptr;    // 1
    Names names;

    // Takes the module and makes everything above but urllib_quote, which
    // is taken once the module has imported it. False with an exception set.
    bool init(PyObject* module_object);
};

extern State state;

// The value bound to `name` in the module namespace, as a global name lookup
// in Python code would find it (module, then builtins; NameError otherwise).
// A strong reference: the Python code it is used to call may rebind the name.
inline Ref global(PyObject* name) { return Ref::borrow(orvane::global(state.dict, name)); }

// `from pathlib import Path`, as init_seal does inside its body. New
// reference, or null with an exception set.
PyObject* pathlib_path();

// Path(__file__).parent with the given Path class: the module's folder, where
// "cError.h" and "P7B" lie. New reference, or null with an exception set.
PyObject* module_folder(PyObject* path_cls);

}  // namespace orvane::seal
