#include "seal_files.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvane::seal {

namespace {

#ifdef O_PATH
constexpr int kDirFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;  // needs no read permission
#else
constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

// unlinkat, retried when interrupted; 0 or an errno value (ENOENT included).
int unlink_at(int dir, const std::string& name) {
    for (int tries = 0; tries < 100; ++tries) {
        if (::unlinkat(dir, name.c_str(), 0) == 0) return 0;
        if (errno != EINTR && errno != EBUSY) return errno;
    }
    return errno;
}

}  // namespace

PropertiesFile::~PropertiesFile() {
    if (written_) unlink_at(dir_ >= 0 ? dir_ : AT_FDCWD, name_);
    if (dir_ >= 0) ::close(dir_);
}

bool PropertiesFile::set_os_error(int error) const {
    Ref filename = Ref::steal(
        PyUnicode_DecodeFSDefaultAndSize(name_.data(), static_cast<Py_ssize_t>(name_.size())));
    if (!filename) return false;
    errno = error;
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, filename.get());
    return false;
}

bool PropertiesFile::take_name(PyObject* path) {
    PyObject* encoded = nullptr;
    if (!PyUnicode_FSConverter(path, &encoded)) return false;  // refuses a zero byte
    Ref bytes = Ref::steal(encoded);
    name_.assign(PyBytes_AS_STRING(encoded), static_cast<size_t>(PyBytes_GET_SIZE(encoded)));
    if (name_.empty()) {
        return set_os_error(ENOENT);
    }
    if (dir_ < 0 && name_[0] != '/') dir_ = ::open(".", kDirFlags);  // else: relative to the folder at each call
    return true;
}

int PropertiesFile::present() const {
    struct stat st;
    if (::fstatat(dir_ >= 0 ? dir_ : AT_FDCWD, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return 1;
    if (errno == ENOENT || errno == ENOTDIR) return 0;
    set_os_error(errno);
    return -1;
}

int PropertiesFile::create(PyObject* content) {
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(content, &data, &size) < 0) return -1;
    int fd;
    do {
        fd = ::openat(dir_ >= 0 ? dir_ : AT_FDCWD, name_.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == EEXIST) return 0;
        set_os_error(errno);
        return -1;
    }
    written_ = true;
    Py_ssize_t done = 0;
    int error = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, static_cast<size_t>(size - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            error = n < 0 ? errno : EIO;
            break;
        }
    }
    if (::close(fd) != 0 && error == 0 && errno != EINTR) error = errno;
    if (error != 0) {
        set_os_error(error);
        if (unlink_at(dir_ >= 0 ? dir_ : AT_FDCWD, name_) == 0) written_ = false;
        return -1;
    }
    return 1;
}

bool PropertiesFile::remove() {
    const int error = unlink_at(dir_ >= 0 ? dir_ : AT_FDCWD, name_);
    if (error != 0 && error != ENOENT) return set_os_error(error);
    written_ = false;
    return true;
}

}  // namespace orvane::seal
