// What the module functions and the sessions ask of a signing facade, each
// written once: an activation (init_seal and PyTWCASign.activate) and a
// signing (the get_sign of both). The engine works without the interpreter
// lock; an engine code other than 0 becomes SealError through raise_error.
#pragma once

#include <mutex>

#include "common/ref.h"
#include "seal_errors.h"
#include "seal_signer.h"

namespace orvane::seal {

// Where init_seal and a session's activation differ.
struct ActivationKind {
    // Something already at the file's name: init_seal takes it for another
    // initialisation's file, waits in steps of 0.5 s for it to go and removes
    // it after 5 s; a session's name is its own, so it is replaced at once.
    bool wait_for_leftover;
    // TWCASignInitial's code is logged at DEBUG level too, not only
    // MakeTWCASignPasswd's.
    bool log_initial;
    // Printed (the builtin `print`) on success, or null.
    const char* done_line;
    // The result: TWCASignInitial's code as int, or else the facade's
    // initialised flag as bool.
    bool returns_code;
};

inline constexpr ActivationKind kInitSeal{true, true, "Seal Initial Done.", true};
inline constexpr ActivationKind kSessionActivation{false, false, nullptr, false};

// What one activation is made from (all borrowed; the caller holds them).
struct Activation {
    PyObject* file_name;          // str: the properties file, in the working folder
    PyObject* path_cls;           // the Path class that makes the name a path
    PyObject* tmpl;               // the properties template (see properties_content)
    PyObject* seal_path;          // the certificate file, a Path
    PyObject* folder;             // the module folder, where "P7B" lies
    PyObject* file_encoding;      // the code page of the properties file
    PyObject* password;           // the password, a str
    PyObject* password_encoding;  // its code page for the engine
};

// Writes the properties file, has the engine protect the password into
// `protected_area` (kProtectedCapacity bytes the caller keeps) and
// initialise `signer` from the file, then removes the file: on success, on
// every engine failure (before its code is raised through `report`) and when
// an exception ends the call. `serialise`, when given, is held for the whole
// activation. The result as `kind` says, or null with an exception set.
PyObject* activate_facade(SealSigner& signer, char* protected_area, const Activation& in,
                          const ActivationKind& kind, const ErrorReport& report,
                          std::recursive_mutex* serialise);

// Signs `data` (bytes) with `signer` and returns the base64 signature as
// bytes. Data holding a zero byte is refused with ValueError (the engine
// would sign only what precedes it). A failure is raised through `report`
// (empty bytes when raise_error returns); `log_code` logs SignPkcs7's code
// at DEBUG level.
PyObject* sign_data(SealSigner& signer, PyObject* data, bool log_code, const ErrorReport& report);

}  // namespace orvane::seal
