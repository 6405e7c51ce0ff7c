// Module-wide state of orvane.TWCA.seal: the module namespace, the interned
// names it looks up, and the objects imported once at initialisation.
//
// The module is initialised once per process (single-phase initialisation),
// so the state is one static object filled by PyInit_seal and kept for the
// life of the process.
#pragma once

#include "common/ref.h"

namespace seal {

struct Names {
    // Module globals looked up at each call.
    PyObject* read_error_code_dict;
    PyObject* raise_error;
    PyObject* get_sign;
    PyObject* get_quote_sign;
    PyObject* quote;
    PyObject* time;
    PyObject* SealError;
    PyObject* Path;
    PyObject* Thread;
    PyObject* sys;
    PyObject* xxhash;
    PyObject* P7SIGN_PROPS;
    PyObject* file;  // "__file__"
    // Attributes and methods called on objects.
    PyObject* parent;
    PyObject* name;
    PyObject* joinpath;
    PyObject* read_bytes;
    PyObject* write_bytes;
    PyObject* exists;
    PyObject* unlink;
    PyObject* decode;
    PyObject* encode;
    PyObject* get;
    PyObject* format;
    PyObject* platform;
    PyObject* sleep;
    PyObject* xxh32_hexdigest;
    PyObject* start;
    PyObject* extend;
    PyObject* pop;
    PyObject* activate;
    PyObject* m_get_sign;
    PyObject* m_get_quote_sign;
    PyObject* gen_sign;
    PyObject* gen_store_sign;
    PyObject* sign_speedup;
    PyObject* m_raise_error;
    PyObject* background_gen_store_sign;
    // Keyword names and constant texts.
    PyObject* kw_safe;          // ("safe",)
    PyObject* kw_thread;        // ("target", "daemon")
    PyObject* seal_path_folder;
    PyObject* seal_name;
    PyObject* p7b_path;
    PyObject* error;
    PyObject* error_msg;
    PyObject* empty;            // ""
    PyObject* cError_h;         // "cError.h"
    PyObject* P7B;              // "P7B"
    PyObject* utf8;             // "utf8"
    PyObject* big5;             // "big5"
    PyObject* crlf;             // "\r\n"
    PyObject* define;           // "#define"
    PyObject* blank;            // " "
    PyObject* comment;          // "// "
    PyObject* win32;            // "win32"
    PyObject* props_file;       // "p7Sign.properties"
    PyObject* props_prefix;     // "p7Sign.properties."
    PyObject* half_second;      // 0.5
    PyObject* one_second;       // 1
};

// The output area of MakeTWCASignPasswd: 512 bytes of capacity, plus one
// byte that stays zero. A protected text of exactly 512 characters fills the
// area without a terminator, and TWCASignInitial reads it as a C string.
constexpr int kProtectedCapacity = 512;

struct State {
    PyObject* module = nullptr;  // strong reference, kept for the process
    PyObject* dict = nullptr;    // the module namespace (borrowed from module)
    PyObject* urllib_quote = nullptr;  // urllib.parse.quote as imported
    Names n{};
};

extern State g;

// Interns every name of g.n; false with an exception set.
bool intern_names();

// The value bound to `name` in the module namespace, as a global name lookup
// in Python code would find it (module, then builtins; NameError otherwise).
// A strong reference: the Python code it is used to call may rebind the name.
orvane::Ref global(PyObject* name);

// Path(__file__).parent with the given Path class: the module's folder, where
// "cError.h" and "P7B" lie. New reference, or null with an exception set.
PyObject* module_folder(PyObject* path_cls);

}  // namespace seal
