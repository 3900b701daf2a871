// Loaded into mornak with LD_PRELOAD: counts the calls of the system functions
// a conversion depends on and makes chosen calls go wrong.
//
//   MORNAK_FAULT="write 2 28"        the 2nd write fails with errno 28 (ENOSPC)
//   MORNAK_FAULT="rename 1 raise 15" SIGTERM arrives as the 1st rename begins
//   MORNAK_FAULT="renameat2 1 create" a regular file takes the place of what is
//                                    at the 1st renameat2's destination (or
//                                    open's path) just before the call
//   MORNAK_FAULT="renameat2 0 22; link 1 28"
//                                    several at once; call 0 is every call
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

enum Function { OPEN, FDOPEN, FSTAT, FREAD, MKOSTEMP, WRITE, FCHMOD, CLOSE, RENAME, RENAMEAT2, LINK, FUNCTIONS };
constexpr const char* NAMES[FUNCTIONS] = {"open",  "fdopen", "fstat",  "fread",     "mkostemp", "write",
                                          "fchmod", "close", "rename", "renameat2", "link"};

// What a file that appears at a destination holds.
constexpr const char APPEARED[] = "appeared while the result was being made\n";

template <typename T>
T real(const char* name) {
    return reinterpret_cast<T>(::dlsym(RTLD_NEXT, name));
}

struct Fault {
    int function = -1;
    unsigned long call = 0;  // 0: every call
    int error = 0;           // errno to fail with, when not 0
    int signal = 0;          // signal to raise as the call begins, when not 0
    bool create = false;     // make a file at the call's destination first
};
constexpr int MAX_FAULTS = 4;
Fault faults[MAX_FAULTS];
int fault_count = 0;

unsigned long calls[FUNCTIONS];
bool parsed = false;

Fault parse_one(const char* text) {
    Fault fault;
    char name[16];
    char action[16];
    int number = 0;
    if (std::sscanf(text, " %15[^ ;] %lu %15[^ ;] %d", name, &fault.call, action, &number) < 3) {
        return fault;
    }
    for (int f = 0; f < FUNCTIONS; ++f) {
        if (std::strcmp(name, NAMES[f]) == 0) {
            fault.function = f;
        }
    }
    if (std::strcmp(action, "raise") == 0) {
        fault.signal = number;
    } else if (std::strcmp(action, "create") == 0) {
        fault.create = true;
    } else {
        fault.error = std::atoi(action);
    }
    return fault;
}

void parse() {
    parsed = true;
    const char* text = std::getenv("MORNAK_FAULT");
    for (; text != nullptr && fault_count < MAX_FAULTS; text = std::strchr(text, ';')) {
        if (*text == ';') {
            ++text;
        }
        if (const Fault fault = parse_one(text); fault.function >= 0) {
            faults[fault_count++] = fault;
        }
    }
}

// Puts a regular file at `path` in place of whatever other than a folder is there.
void create_at(const char* path) {
    ::unlink(path);
    const int fd = real<int (*)(const char*, int, ...)>("open")(path, O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd >= 0) {
        real<ssize_t (*)(int, const void*, std::size_t)>("write")(fd, APPEARED, sizeof APPEARED - 1);
        real<int (*)(int)>("close")(fd);
    }
}

// 0 when the call numbered now should behave, else the errno it fails with.
// Raises a planned signal first and makes a planned file at `destination`;
// a handler that returns lets the call go on.
int next_call(Function f, const char* destination = nullptr) {
    if (!parsed) {
        parse();
    }
    const unsigned long call = ++calls[f];
    int error = 0;
    for (int i = 0; i < fault_count; ++i) {
        const Fault& fault = faults[i];
        if (fault.function != f || (fault.call != call && fault.call != 0)) {
            continue;
        }
        if (fault.signal != 0) {
            std::raise(fault.signal);
        }
        if (fault.create && destination != nullptr) {
            create_at(destination);
        }
        if (fault.error != 0) {
            error = fault.error;
        }
    }
    return error;
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
    if (const int error = next_call(OPEN, path)) {
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
    if (const int error = next_call(RENAME, to)) {
        errno = error;
        return -1;
    }
    return real<int (*)(const char*, const char*)>("rename")(from, to);
}

int renameat2(int from_folder, const char* from, int to_folder, const char* to, unsigned int flags) {
    if (const int error = next_call(RENAMEAT2, to)) {
        errno = error;
        return -1;
    }
    return real<int (*)(int, const char*, int, const char*, unsigned int)>("renameat2")(from_folder, from, to_folder,
                                                                                        to, flags);
}

int link(const char* from, const char* to) {
    if (const int error = next_call(LINK, to)) {
        errno = error;
        return -1;
    }
    return real<int (*)(const char*, const char*)>("link")(from, to);
}

}  // extern "C"
