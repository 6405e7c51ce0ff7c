#include "seal_facade.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "cLog.h"
#include "seal_files.h"
#include "seal_secret.h"
#include "seal_state.h"
#include "seal_text.h"
#include "seal_unlocked.h"

namespace orvane::seal {

namespace {

double seconds(PyObject* value) {
    return value ? PyFloat_AsDouble(value) : -1.0;
}

// Waits while another initialisation's file is at the name (a link counts,
// dangling or not): steps of 0.5 s (the module's `time.sleep`); after 5 s
// whatever is at the name is taken as stale and removed (a link itself,
// never its target).
bool wait_for_leftover(PropertiesFile& file) {
    Ref time_mod = global(state.names.time);
    if (!time_mod) return false;
    Ref now = Ref::steal(call_method(time_mod.get(), state.names.time, nullptr, 0));
    const double start = seconds(now.get());
    if (start == -1.0 && PyErr_Occurred()) return false;
    for (;;) {
        const int there = file.present();
        if (there < 0) return false;
        if (!there) return true;
        time_mod = global(state.names.time);
        if (!time_mod) return false;
        Ref slept = Ref::steal(call_method(time_mod.get(), state.names.sleep, &state.half_second, 1));
        if (!slept) return false;
        time_mod = global(state.names.time);
        if (!time_mod) return false;
        Ref later = Ref::steal(call_method(time_mod.get(), state.names.time, nullptr, 0));
        const double t = seconds(later.get());
        if (t == -1.0 && PyErr_Occurred()) return false;
        if (t - start >= 5.0) return file.remove();
    }
}

// Creates the file once nothing of another initialisation is at its name.
// When something appears between the wait and the creation, it is waited
// for too.
bool write_after_leftover(PropertiesFile& file, PyObject* content) {
    for (;;) {
        if (!wait_for_leftover(file)) return false;
        const int created = file.create(content);
        if (created != 0) return created > 0;
    }
}

// Creates the file, replacing whatever is at its name (a stale file of the
// same session, a link: removed, never followed).
bool write_replacing(PropertiesFile& file, PyObject* content) {
    for (int tries = 0; tries < 100; ++tries) {
        const int there = file.present();
        if (there < 0) return false;
        if (there && !file.remove()) return false;
        const int created = file.create(content);
        if (created != 0) return created > 0;
    }
    errno = EEXIST;
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, file.engine_name());
    return false;
}

// The builtin `print` applied to `text`.
bool print_line(const char* text) {
    PyObject* builtins = PyEval_GetBuiltins();
    Ref print = Ref::borrow(builtins ? PyDict_GetItemWithError(builtins, state.names.print) : nullptr);
    if (!print) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_NameError, "name 'print' is not defined");
        return false;
    }
    Ref line = Ref::steal(PyUnicode_FromString(text));
    if (!line) return false;
    return static_cast<bool>(Ref::steal(call1(print.get(), line.get())));
}

// The activation once `serialise` is held.
PyObject* activate_held(SealSigner& signer, char* protected_area, const Activation& in,
                        const ActivationKind& kind, const ErrorReport& report) {
    Ref content = Ref::steal(properties_content(in.tmpl, in.seal_path, in.folder, in.file_encoding));
    if (!content) return nullptr;
    Ref props = Ref::steal(call1(in.path_cls, in.file_name));
    if (!props) return nullptr;
    PropertiesFile file;
    if (!file.take_name(props.get())) return nullptr;
    const bool written = kind.wait_for_leftover ? write_after_leftover(file, content.get())
                                                : write_replacing(file, content.get());
    if (!written) return nullptr;
    // Encoded while the file is on disk: an exception here still removes it.
    SecretText plain;
    if (!plain.take(in.password, in.password_encoding)) return nullptr;
    const std::string engine_file(file.engine_name());

    // The engine reads the properties and the credential, and derives the
    // PKCS#12 keys, without the interpreter lock, on copies the module owns;
    // the protected password reaches the caller's area afterwards.
    SecretBuffer enced;
    std::memcpy(enced.data, protected_area, kProtectedCapacity);
    int code = run_unlocked([&] {
        int capacity = kProtectedCapacity;
        const int made = signer.make_passwd(enced.data, &capacity, engine_file.c_str(), plain.c_str());
        cLog::instance().debug("MakeTWCASignPasswd() return ", made);
        return made;
    });
    plain.wipe();
    std::memcpy(protected_area, enced.data, kProtectedCapacity);
    if (code != 0 && (!file.remove() || !report.raise(code))) return nullptr;
    // raise_error may have run an activation of its own meanwhile: the area
    // is read again.
    std::memcpy(enced.data, protected_area, kProtectedCapacity);
    code = run_unlocked([&] {
        const int done = signer.initial(engine_file.c_str(), enced.data);
        if (kind.log_initial) cLog::instance().debug("TWCASignInitial() return ", done);
        return done;
    });
    if (code != 0 && (!file.remove() || !report.raise(code))) return nullptr;
    if (!file.remove()) return nullptr;
    if (kind.done_line && !print_line(kind.done_line)) return nullptr;
    return kind.returns_code ? PyLong_FromLong(code) : PyBool_FromLong(signer.initialised());
}

}  // namespace

PyObject* activate_facade(SealSigner& signer, char* protected_area, const Activation& in,
                          const ActivationKind& kind, const ErrorReport& report,
                          std::recursive_mutex* serialise) {
    if (!serialise) return activate_held(signer, protected_area, in, kind, report);
    // Recursive: Python code called from here may activate again.
    lock_unlocked(*serialise);
    std::lock_guard<std::recursive_mutex> held(*serialise, std::adopt_lock);
    return activate_held(signer, protected_area, in, kind, report);
}

PyObject* sign_data(SealSigner& signer, PyObject* data, bool log_code, const ErrorReport& report) {
    if (!reject_embedded_nul(data)) return nullptr;
    const std::string bytes(PyBytes_AS_STRING(data), static_cast<size_t>(PyBytes_GET_SIZE(data)));
    std::string signature;
    const int code = run_unlocked([&] {
        const int signed_code = signer.sign(bytes.c_str(), signature);
        if (log_code) cLog::instance().debug("SignPkcs7() return ", signed_code);
        return signed_code;
    });
    if (code == 0) return PyBytes_FromStringAndSize(signature.data(), static_cast<Py_ssize_t>(signature.size()));
    if (!report.raise(code)) return nullptr;
    // raise_error was replaced by something that returns: no signature.
    return PyBytes_FromStringAndSize(nullptr, 0);
}

}  // namespace orvane::seal
