// Loaded into mornak with LD_PRELOAD: counts the calls of the system functions
// a conversion depends on and makes one chosen call go wrong.
//
//   MORNAK_FAULT="write 2 28"        the 2nd write fails with errno 28 (ENOSPC)
//   MORNAK_FAULT="rename 1 raise 15" SIGTERM arrives as the 1st rename begins
//   MORNAK_FAULT_COUNTS=FILE         at exit, "name calls" lines for each function

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum Function { OPEN, FDOPEN, FSTAT, FREAD, MKOSTEMP, WRITE, FCHMOD, CLOSE, RENAME, FUNCTIONS };
constexpr const char* NAMES[FUNCTIONS] = {"open", "fdopen", "fstat", "fread", "mkostemp",
                                          "write", "fchmod", "close", "rename"};

unsigned long calls[FUNCTIONS];
int fault_function = -1;
unsigned long fault_call = 0;
int fault_errno = 0;   // errno to fail with, when not raising
int fault_signal = 0;  // signal to raise as the call begins, when not 0
bool parsed = false;

void parse() {
    parsed = true;
    const char* fault = std::getenv("MORNAK_FAULT");
    char name[16];
    char action[16];
    int number = 0;
    if (fault == nullptr || std::sscanf(fault, "%15s %lu %15s %d", name, &fault_call, action, &number) < 3) {
        return;
    }
    for (int f = 0; f < FUNCTIONS; ++f) {
        if (std::strcmp(name, NAMES[f]) == 0) {
            fault_function = f;
        }
    }
    if (std::strcmp(action, "raise") == 0) {
        fault_signal = number;
    } else {
        fault_errno = std::atoi(action);
    }
}

// 0 when the call numbered now should behave, else the errno it fails with.
// Raises fault_signal first when that is the plan for this call; a handler
// that returns lets the call go on.
int next_call(Function f) {
    if (!parsed) {
        parse();
    }
    if (++calls[f] != fault_call || f != fault_function) {
        return 0;
    }
    if (fault_signal != 0) {
        std::raise(fault_signal);
        return 0;
    }
    return fault_errno;
}

template <typename T>
T real(const char* name) {
    return reinterpret_cast<T>(::dlsym(RTLD_NEXT, name));
}

__attribute__((destructor)) void write_counts() {
    const char* path = std::getenv("MORNAK_FAULT_COUNTS");
    std::FILE* out = path != nullptr ? std::fopen(path, "w") : nullptr;
    if (out != nullptr) {
        for (int f = 0; f < FUNCTIONS; ++f) {
            std::fprintf(out, "%s %lu\n", NAMES[f], calls[f]);
        }
        std::fclose(out);
    }
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
    std::va_list rest;
    va_start(rest, flags);
    const mode_t mode = (flags & O_CREAT) != 0 ? static_cast<mode_t>(va_arg(rest, int)) : 0;
    va_end(rest);
    if (const int error = next_call(OPEN)) {
        errno = error;
        return -1;
    }
    return real<int (*)(const char*, int, ...)>("open")(path, flags, mode);
}

FILE* fdopen(int fd, const char* mode) {
    if (const int error = next_call(FDOPEN)) {
        errno = error;
        return nullptr;
    }
    return real<FILE* (*)(int, const char*)>("fdopen")(fd, mode);
}

int fstat(int fd, struct stat* info) {
    if (const int error = next_call(FSTAT)) {
        errno = error;
        return -1;
    }
    return real<int (*)(int, struct stat*)>("fstat")(fd, info);
}

std::size_t fread(void* into, std::size_t size, std::size_t count, FILE* stream) {
    const auto real_fread = real<std::size_t (*)(void*, std::size_t, std::size_t, FILE*)>("fread");
    const int error = next_call(FREAD);
    if (error == 0) {
        return real_fread(into, size, count, stream);
    }
    // A real failed read, so the stream's error indicator is set as it would
    // be: the descriptor briefly stands for a write-only one.
    const auto real_close = real<int (*)(int)>("close");
    const int fd = ::fileno(stream);
    const int saved = ::dup(fd);
    const int write_only = real<int (*)(const char*, int, ...)>("open")("/dev/null", O_WRONLY);
    ::dup2(write_only, fd);
    const std::size_t got = real_fread(into, size, count, stream);
    ::dup2(saved, fd);
    real_close(saved);
    real_close(write_only);
    errno = error;
    return got;
}

int mkostemp(char* name, int flags) {
    if (const int error = next_call(MKOSTEMP)) {
        errno = error;
        return -1;
    }
    return real<int (*)(char*, int)>("mkostemp")(name, flags);
}

ssize_t write(int fd, const void* bytes, std::size_t count) {
    if (const int error = next_call(WRITE)) {
        errno = error;
        return -1;
    }
    return real<ssize_t (*)(int, const void*, std::size_t)>("write")(fd, bytes, count);
}

int fchmod(int fd, mode_t mode) {
    if (const int error = next_call(FCHMOD)) {
        errno = error;
        return -1;
    }
    return real<int (*)(int, mode_t)>("fchmod")(fd, mode);
}

int close(int fd) {
    const int error = next_call(CLOSE);
    const int result = real<int (*)(int)>("close")(fd);  // gone even when close reports an error
    if (error != 0) {
        errno = error;
        return -1;
    }
    return result;
}

int rename(const char* from, const char* to) {
    if (const int error = next_call(RENAME)) {
        errno = error;
        return -1;
    }
    return real<int (*)(const char*, const char*)>("rename")(from, to);
}

}  // extern "C"
