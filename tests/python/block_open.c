/* Preloaded (LD_PRELOAD) into a test interpreter: holds a thread inside a
 * signing-engine call, at the point where the engine opens its log file, for
 * as long as the test wants.
 *
 * With ORVANE_BLOCK_OPEN=<gate> in the environment, an open() of a path that
 * holds "seal.log." waits while the file <gate> exists; while a call waits,
 * the folder <gate>.waiting exists. Every other open() is passed on. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

typedef int (*open_fn)(const char*, int, ...);

static open_fn next_open(const char* name) {
    return (open_fn)dlsym(RTLD_NEXT, name);
}

static void wait_at_gate(const char* path) {
    const char* gate = getenv("ORVANE_BLOCK_OPEN");
    if (gate == NULL || path == NULL || strstr(path, "seal.log.") == NULL || access(gate, F_OK) != 0) return;
    char waiting[4096];
    snprintf(waiting, sizeof waiting, "%s.waiting", gate);
    mkdir(waiting, 0700);
    const struct timespec pause = {0, 1000000};
    while (access(gate, F_OK) == 0) nanosleep(&pause, NULL);
    rmdir(waiting);
}

static mode_t mode_argument(int flags, va_list args) {
    return (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
}

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_argument(flags, args);
    va_end(args);
    wait_at_gate(path);
    static open_fn real;
    if (real == NULL) real = next_open("open");
    return real(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_argument(flags, args);
    va_end(args);
    wait_at_gate(path);
    static open_fn real;
    if (real == NULL) real = next_open("open64");
    return real(path, flags, mode);
}
