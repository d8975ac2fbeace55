/* Fault injection for the archive's I/O, loaded into vexa with LD_PRELOAD by run-faults.sh.
 *
 * Wraps fsync, fdatasync, write, rename, renameat, renameat2, linkat, link and mkdir. Which of
 * the calls fails is said in the environment, read once when the library is loaded:
 *   VEXA_FAULT_CALL   the function(s) whose calls are counted: "fsync", or "fsync,fdatasync"
 *   VEXA_FAULT_NTH    the counted call that fails (1 = the first; default 1)
 *   VEXA_FAULT_ERRNO  EIO (default), ENOSPC, EDQUOT, EROFS or a number
 *   VEXA_FAULT_PATH   count only calls whose path holds this text (for a descriptor, the file it
 *                     is open on; for rename and link, either path)
 *   VEXA_FAULT_ALL=1  every counted call from the Nth on fails (a disk that stays full)
 *   VEXA_FAULT_KILL=1 after the failure, SIGKILL at the next call of any wrapped function: the
 *                     crash that follows a failed sync or rename before anything is cleaned up
 *   VEXA_FAULT_LOG    a file that gets one line per failure and the kill, so a suite can tell a
 *                     fault that never happened from one that was survived
 *   VEXA_FAULT_TRACE=1  also log every counted call (to find the N of a call)
 *
 * The wrappers run on any thread of vexa (the read-ahead writes attachments on its own), so they
 * take no locks and allocate nothing: counters are atomics, paths live on the stack, and the log
 * is written with the real write, never through the wrapper.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

enum {
    F_FSYNC = 1 << 0,
    F_FDATASYNC = 1 << 1,
    F_WRITE = 1 << 2,
    F_RENAME = 1 << 3,
    F_RENAMEAT = 1 << 4,
    F_RENAMEAT2 = 1 << 5,
    F_LINKAT = 1 << 6,
    F_LINK = 1 << 7,
    F_MKDIR = 1 << 8,
};

static const struct {
    const char* name;
    int bit;
} kCalls[] = {
    {"fsync", F_FSYNC},   {"fdatasync", F_FDATASYNC}, {"write", F_WRITE}, {"rename", F_RENAME},
    {"renameat", F_RENAMEAT}, {"renameat2", F_RENAMEAT2}, {"linkat", F_LINKAT}, {"link", F_LINK},
    {"mkdir", F_MKDIR},
};

static int (*real_fsync)(int);
static int (*real_fdatasync)(int);
static ssize_t (*real_write)(int, const void*, size_t);
static int (*real_rename)(const char*, const char*);
static int (*real_renameat)(int, const char*, int, const char*);
static int (*real_renameat2)(int, const char*, int, const char*, unsigned int);
static int (*real_linkat)(int, const char*, int, const char*, int);
static int (*real_link)(const char*, const char*);
static int (*real_mkdir)(const char*, mode_t);

static int calls;          /* the VEXA_FAULT_CALL bits; 0: the shim only passes calls through */
static long nth = 1;
static int fault_errno = EIO;
static char path_part[PATH_MAX];
static int every_from_nth;
static int kill_after;
static int trace;
static char log_file[PATH_MAX];

static long counted;       /* atomic: counted calls so far */
static int kill_pending;   /* atomic: the next wrapped call kills the process */

static void resolve(void) {
    /* dlsym finds the next definition: libc's, or the sanitizer's interceptor that calls it. */
    if (!real_write) real_write = (ssize_t (*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    if (!real_fsync) real_fsync = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    if (!real_fdatasync) real_fdatasync = (int (*)(int))dlsym(RTLD_NEXT, "fdatasync");
    if (!real_rename) real_rename = (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename");
    if (!real_renameat) real_renameat = (int (*)(int, const char*, int, const char*))dlsym(RTLD_NEXT, "renameat");
    if (!real_renameat2)
        real_renameat2 = (int (*)(int, const char*, int, const char*, unsigned int))dlsym(RTLD_NEXT, "renameat2");
    if (!real_linkat) real_linkat = (int (*)(int, const char*, int, const char*, int))dlsym(RTLD_NEXT, "linkat");
    if (!real_link) real_link = (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "link");
    if (!real_mkdir) real_mkdir = (int (*)(const char*, mode_t))dlsym(RTLD_NEXT, "mkdir");
}

static int parse_errno(const char* text) {
    if (!text || !*text) return EIO;
    if (strcmp(text, "EIO") == 0) return EIO;
    if (strcmp(text, "ENOSPC") == 0) return ENOSPC;
    if (strcmp(text, "EDQUOT") == 0) return EDQUOT;
    if (strcmp(text, "EROFS") == 0) return EROFS;
    const int number = atoi(text);
    return number > 0 ? number : EIO;
}

static int parse_calls(const char* text) {
    int bits = 0;
    while (text && *text) {
        const char* end = strchr(text, ',');
        const size_t length = end ? (size_t)(end - text) : strlen(text);
        for (size_t i = 0; i < sizeof kCalls / sizeof kCalls[0]; ++i) {
            if (strlen(kCalls[i].name) == length && strncmp(kCalls[i].name, text, length) == 0) bits |= kCalls[i].bit;
        }
        text = end ? end + 1 : NULL;
    }
    return bits;
}

static void copy_env(char* target, size_t size, const char* name) {
    const char* value = getenv(name);
    if (!value) return;
    strncpy(target, value, size - 1);
    target[size - 1] = '\0';
}

__attribute__((constructor)) static void load(void) {
    resolve();
    calls = parse_calls(getenv("VEXA_FAULT_CALL"));
    const char* n = getenv("VEXA_FAULT_NTH");
    if (n && atol(n) > 0) nth = atol(n);
    fault_errno = parse_errno(getenv("VEXA_FAULT_ERRNO"));
    copy_env(path_part, sizeof path_part, "VEXA_FAULT_PATH");
    copy_env(log_file, sizeof log_file, "VEXA_FAULT_LOG");
    const char* all = getenv("VEXA_FAULT_ALL");
    every_from_nth = all && strcmp(all, "1") == 0;
    const char* kill_env = getenv("VEXA_FAULT_KILL");
    kill_after = kill_env && strcmp(kill_env, "1") == 0;
    const char* trace_env = getenv("VEXA_FAULT_TRACE");
    trace = trace_env && strcmp(trace_env, "1") == 0;
}

/* `number` in decimal, at the end of `digits`; no locale, no allocation. */
static const char* decimal(long number, char* digits, size_t size) {
    size_t at = size;
    digits[--at] = '\0';
    if (number < 0) number = 0;
    do {
        digits[--at] = (char)('0' + number % 10);
        number /= 10;
    } while (number > 0 && at > 0);
    return digits + at;
}

/* Appends "WHAT CALL #N PATH\n" to the log; no allocation, the real write only. */
static void note(const char* what, const char* call, long number, const char* path) {
    if (!log_file[0] || !real_write) return;
    char line[PATH_MAX + 128];
    size_t at = 0;
    char digits[24];
    const char* parts[] = {what, " ", call, " #", decimal(number, digits, sizeof digits), " ", path ? path : "", "\n"};
    for (size_t i = 0; i < sizeof parts / sizeof parts[0]; ++i) {
        for (const char* c = parts[i]; *c && at < sizeof line - 2; ++c) line[at++] = *c;
    }
    if (line[at - 1] != '\n') line[at++] = '\n';
    const int fd = open(log_file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    (void)real_write(fd, line, at);
    close(fd);
}

/* The crash that follows a failure: at the first wrapped call after it, on any thread. */
static void maybe_die(const char* call) {
    if (!__atomic_load_n(&kill_pending, __ATOMIC_SEQ_CST)) return;
    note("killed-at", call, __atomic_load_n(&counted, __ATOMIC_SEQ_CST), NULL);
    kill(getpid(), SIGKILL);
    for (;;) pause();
}

/* The path `name` (relative to `dirfd`, or the file open on `dirfd` itself when `name` is empty)
 * as an absolute path in `out`, as far as /proc can tell. */
static void full_path(int dirfd, const char* name, char* out, size_t size) {
    out[0] = '\0';
    if (name && name[0] == '/') {
        strncpy(out, name, size - 1);
        out[size - 1] = '\0';
        return;
    }
    char link[64] = "/proc/self/cwd";
    if (dirfd != AT_FDCWD) {
        char digits[24];
        const char* number = decimal(dirfd, digits, sizeof digits);
        strcpy(link, "/proc/self/fd/");
        strcat(link, number);
    }
    const ssize_t length = readlink(link, out, size - 1);
    if (length < 0) {
        out[0] = '\0';
    } else {
        out[length] = '\0';
    }
    if (name && name[0]) {
        size_t at = strlen(out);
        if (at + 1 < size - 1) out[at++] = '/';
        for (const char* c = name; *c && at < size - 1; ++c) out[at++] = *c;
        out[at] = '\0';
    }
}

/* True when this call is the one to fail (errno is then set, and the kill armed). */
static int fails(int bit, const char* call, const char* first, const char* second) {
    if (!(calls & bit)) return 0;
    if (path_part[0]) {
        const int matches = (first && strstr(first, path_part)) || (second && strstr(second, path_part));
        if (!matches) return 0;
    }
    const long number = __atomic_add_fetch(&counted, 1, __ATOMIC_SEQ_CST);
    const int fail = every_from_nth ? number >= nth : number == nth;
    if (trace && !fail) note("call", call, number, second && second[0] ? second : first);
    if (!fail) return 0;
    note("failed", call, number, second && second[0] ? second : first);
    if (kill_after) __atomic_store_n(&kill_pending, 1, __ATOMIC_SEQ_CST);
    errno = fault_errno;
    return 1;
}

static int fd_fails(int bit, const char* call, int fd) {
    if (!(calls & bit)) return 0;
    char path[PATH_MAX];
    path[0] = '\0';
    if (path_part[0] || log_file[0]) full_path(fd, "", path, sizeof path);
    return fails(bit, call, path, NULL);
}

static int paths_fail(int bit, const char* call, int dir1, const char* name1, int dir2, const char* name2) {
    if (!(calls & bit)) return 0;
    char first[PATH_MAX], second[PATH_MAX];
    full_path(dir1, name1, first, sizeof first);
    second[0] = '\0';
    if (name2) full_path(dir2, name2, second, sizeof second);
    return fails(bit, call, first, name2 ? second : NULL);
}

/* A process that ends before any further wrapped call still crashes rather than exits cleanly. */
__attribute__((destructor)) static void unload(void) { maybe_die("exit"); }

int fsync(int fd) {
    resolve();
    maybe_die("fsync");
    if (fd_fails(F_FSYNC, "fsync", fd)) return -1;
    return real_fsync(fd);
}

int fdatasync(int fd) {
    resolve();
    maybe_die("fdatasync");
    if (fd_fails(F_FDATASYNC, "fdatasync", fd)) return -1;
    return real_fdatasync(fd);
}

ssize_t write(int fd, const void* buffer, size_t count) {
    resolve();
    maybe_die("write");
    if (fd_fails(F_WRITE, "write", fd)) return -1;
    return real_write(fd, buffer, count);
}

int rename(const char* from, const char* to) {
    resolve();
    maybe_die("rename");
    if (paths_fail(F_RENAME, "rename", AT_FDCWD, from, AT_FDCWD, to)) return -1;
    return real_rename(from, to);
}

int renameat(int fromDir, const char* from, int toDir, const char* to) {
    resolve();
    maybe_die("renameat");
    if (paths_fail(F_RENAMEAT, "renameat", fromDir, from, toDir, to)) return -1;
    return real_renameat(fromDir, from, toDir, to);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned int flags) {
    resolve();
    maybe_die("renameat2");
    if (paths_fail(F_RENAMEAT2, "renameat2", fromDir, from, toDir, to)) return -1;
    return real_renameat2(fromDir, from, toDir, to, flags);
}

int linkat(int fromDir, const char* from, int toDir, const char* to, int flags) {
    resolve();
    maybe_die("linkat");
    if (paths_fail(F_LINKAT, "linkat", fromDir, from, toDir, to)) return -1;
    return real_linkat(fromDir, from, toDir, to, flags);
}

int link(const char* from, const char* to) {
    resolve();
    maybe_die("link");
    if (paths_fail(F_LINK, "link", AT_FDCWD, from, AT_FDCWD, to)) return -1;
    return real_link(from, to);
}

int mkdir(const char* path, mode_t mode) {
    resolve();
    maybe_die("mkdir");
    if (paths_fail(F_MKDIR, "mkdir", AT_FDCWD, path, AT_FDCWD, NULL)) return -1;
    return real_mkdir(path, mode);
}
