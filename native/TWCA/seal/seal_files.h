// The properties file of one initialisation or activation: created afresh
// (exclusively, never through a symbolic link, readable by the owner only),
// read by the engine, and removed before the call that wrote it returns, on
// success and on every failure.
//
// Creation and removal are plain system calls: no Python code runs between
// them that could skip the removal, and the removal is never interrupted half
// way. A relative name stays relative to the working folder of the moment the
// name was taken, even if the process changes folder meanwhile.
#pragma once

#include <cstddef>
#include <string>

#include "common/ref.h"

namespace orvane::seal {

class PropertiesFile {
public:
    PropertiesFile() = default;
    PropertiesFile(const PropertiesFile&) = delete;
    PropertiesFile& operator=(const PropertiesFile&) = delete;
    // A file still there when the call ends (an exception on the way) is
    // removed; a pending exception stays.
    ~PropertiesFile();

    // Takes the file-system name of `path` (str, bytes or os.PathLike).
    // False with an exception set.
    bool take_name(PyObject* path);
    // The name as the engine is given it.
    const char* engine_name() const { return name_.c_str(); }

    // 1 when something (a file, a link, a folder) is at the name, links not
    // followed; 0 when not; -1 with OSError.
    int present() const;
    // Creates the file exclusively with mode 0600 and writes `content`
    // (bytes). 1 when written; 0 when something is already at the name;
    // -1 with an exception set (a file created before the failure is removed).
    int create(PyObject* content);
    // Removes what is at the name (a link itself, never what it points to);
    // nothing there counts as removed. False with OSError, and the file stays
    // in the care of this object, which tries again when it ends.
    bool remove();

private:
    bool set_os_error(int error) const;

    std::string name_;
    int dir_ = -1;          // the working folder the name is relative to
    bool written_ = false;  // created by this object and not yet removed
};

}  // namespace orvane::seal
