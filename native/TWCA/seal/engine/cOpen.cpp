#include "cOpen.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    return streamOverRegular(fd, "a");
}
