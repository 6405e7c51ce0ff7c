#include "cOpen.h"

#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include "cPlatformCodePage.h"
#else
#include <unistd.h>
#endif

#ifdef _WIN32

namespace {

void setErrnoFromLastError() {
    switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        errno = ENOENT;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        errno = EACCES;
        break;
    default:
        errno = EIO;
    }
}

}  // namespace

std::FILE* cOpenForAppending(const char* path) {
    const std::wstring wide = cWidePath(path);
    if (wide.empty()) {
        errno = EINVAL;
        return nullptr;
    }
    // A reparse point (a symbolic link, a junction) is opened itself, not
    // followed, and then refused.
    const HANDLE handle = ::CreateFileW(wide.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        setErrnoFromLastError();
        return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION info;
    int failure = 0;
    if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileInformationByHandle(handle, &info))
        failure = EINVAL;
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        failure = ELOOP;
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        failure = EINVAL;
    if (failure != 0) {
        ::CloseHandle(handle);
        errno = failure;
        return nullptr;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_APPEND | _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(handle);
        errno = EMFILE;
        return nullptr;
    }
    std::FILE* file = ::_fdopen(fd, "ab");
    if (file == nullptr) {
        const int saved = errno;
        ::_close(fd);   // closes the handle too
        errno = saved;
    }
    return file;
}

int cOpenForReading(const char* path) {
    const std::wstring wide = cWidePath(path);
    if (wide.empty()) {
        errno = ENOENT;
        return -1;
    }
    return ::_wopen(wide.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

bool cRegularFileSize(int fd, long long& size) {
    struct _stat64 st;
    if (::_fstat64(fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) return false;
    size = static_cast<long long>(st.st_size);
    return true;
}

long long cReadFile(int fd, void* into, size_t count) {
    const unsigned chunk = count > static_cast<size_t>(INT_MAX) ? static_cast<unsigned>(INT_MAX)
                                                                 : static_cast<unsigned>(count);
    return ::_read(fd, into, chunk);
}

void cCloseFile(int fd) {
    if (fd >= 0) ::_close(fd);
}

#else  // POSIX

namespace {

// Takes the descriptor: a stream over it when it is a regular file (back in
// blocking mode), else nullptr with it closed.
std::FILE* streamOverRegular(int fd, const char* mode) {
    if (fd < 0) return nullptr;
    struct stat st;
    int failure = 0;
    if (::fstat(fd, &st) != 0)
        failure = errno;
    else if (!S_ISREG(st.st_mode))
        failure = EINVAL;
    if (failure != 0) {
        ::close(fd);
        errno = failure;
        return nullptr;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(fd, mode);
    if (file == nullptr) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
    }
    return file;
}

}  // namespace

std::FILE* cOpenForAppending(const char* path) {
    if (path == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    return streamOverRegular(fd, "ab");
}

int cOpenForReading(const char* path) {
    if (path == nullptr) {
        errno = EINVAL;
        return -1;
    }
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool cRegularFileSize(int fd, long long& size) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    size = static_cast<long long>(st.st_size);
    return true;
}

long long cReadFile(int fd, void* into, size_t count) {
    return static_cast<long long>(::read(fd, into, count));
}

void cCloseFile(int fd) {
    if (fd >= 0) ::close(fd);
}

#endif
