#include "programs/output_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>  // renameat2
#include <cstdlib>
#include <utility>

#include "programs/signals.hpp"

namespace programs {

namespace {

// A short name of its own, so that a target whose name is near the system's
// length limit still gets a temporary file.
constexpr const char* TEMPORARY_NAME = ".mornak-XXXXXX";

// Largest single write; Linux moves at most about 2 GiB per call anyway.
constexpr std::size_t MAX_WRITE = std::size_t{1} << 30;

// The module's only state, and the reason there is one output at a time: the
// name of the temporary file in use, from its creation until it is renamed
// or removed, else null. Read by the signal handler, hence lock-free; set
// and cleared only with the signals held.
std::atomic<const char*> temporary_in_use{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free);

std::string temporary_template(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    return folder + TEMPORARY_NAME;
}

// Kinds of file a result replaces through a temporary file. Everything else
// stands for something (a device, a FIFO's reader, a terminal) that a
// regular file in its place would cut off.
bool replaced_by_rename(mode_t mode) { return S_ISREG(mode) || S_ISDIR(mode); }

// Standard output or standard error when it has the file `info` describes
// open, else -1.
int standard_descriptor_for(const struct stat& info) {
    for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        struct stat open_file {};
        if (::fstat(fd, &open_file) == 0 && open_file.st_dev == info.st_dev && open_file.st_ino == info.st_ino) {
            return fd;
        }
    }
    return -1;
}

// Gives `temporary` the name `target` unless something holds that name: 0,
// EEXIST when something does, or another errno.
int take_free_name(const char* temporary, const char* target) {
    if (::renameat2(AT_FDCWD, temporary, AT_FDCWD, target, RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        return errno;
    }
    // The kernel or the file system (NFS, some FUSE ones) cannot rename
    // without replacing. A hard link refuses a taken name just the same;
    // once it exists the result stands under the target's name, and the
    // temporary name is only a second one to drop.
    if (::link(temporary, target) != 0) {
        return errno;
    }
    ::unlink(temporary);
    return 0;
}

}  // namespace

mode_t output_mode(mode_t input_mode) {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return input_mode & 0666 & ~mask;
}

OutputFile::~OutputFile() { abort(); }

int OutputFile::begin(const std::string& target, mode_t mode, AtTarget at_target) {
    start_afresh();
    target_ = target;
    at_target_ = at_target;
    temporary_ = temporary_template(target);
    int error = 0;
    {
        // Made and announced to the handler as one step.
        const SignalsHeld held;
        fd_ = ::mkostemp(temporary_.data(), O_CLOEXEC);
        if (fd_ < 0) {
            error = errno;
        } else {
            route_ = Route::temporary;
            temporary_in_use = temporary_.c_str();
        }
    }
    if (error == 0 && ::fchmod(fd_, mode) != 0) {
        error = errno;
        abort();
    }
    return error;
}

int OutputFile::begin_named(const std::string& target, mode_t mode) {
    struct stat info {};
    if (::stat(target.c_str(), &info) != 0) {
        return begin(target, mode, AtTarget::replace);
    }
    // Said before anything is restored: no file replaces a folder, and a
    // rename over "." or "/" would fail only at the end, and not with this.
    if (S_ISDIR(info.st_mode)) {
        return EISDIR;
    }
    if (S_ISREG(info.st_mode)) {
        // A link such as /dev/stdout is replaced like any other unless it
        // names a file this process already writes to: replacing it would
        // leave the system's link a plain file.
        struct stat name {};
        const bool link = ::lstat(target.c_str(), &name) == 0 && S_ISLNK(name.st_mode);
        const int fd = link ? standard_descriptor_for(info) : -1;
        if (fd < 0) {
            return begin(target, mode, AtTarget::replace);
        }
        write_into(fd, Route::already_open);
        return 0;
    }
    // As the shell's ">" opens it, less O_CREAT (the node exists) and O_TRUNC
    // (none of these has contents to cut).
    const int fd = ::open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    struct stat opened {};
    if (::fstat(fd, &opened) != 0) {
        const int error = errno;
        ::close(fd);
        return error;
    }
    if (replaced_by_rename(opened.st_mode)) {
        // A regular file took the name between the look and the open: it is
        // neither cut nor written over in place.
        ::close(fd);
        return begin(target, mode, AtTarget::replace);
    }
    write_into(fd, Route::opened_here);
    return 0;
}

void OutputFile::begin_standard_output() { write_into(STDOUT_FILENO, Route::already_open); }

void OutputFile::write_into(int fd, Route route) {
    start_afresh();
    route_ = route;
    fd_ = fd;
}

void OutputFile::start_afresh() {
    abort();
    bytes_ = 0;
    gone_out_ = 0;
}

int OutputFile::append(std::span<const std::uint8_t> bytes) {
    bool beyond_recall = false;  // a byte written is out for good, and counted as such
    switch (route_) {
        case Route::none:
            return EBADF;
        case Route::temporary:
            break;
        case Route::opened_here:
        case Route::already_open:
            beyond_recall = true;
            break;
    }
    bytes_ += bytes.size();
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd_, bytes.data(), std::min(bytes.size(), MAX_WRITE));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (written == 0) {
            return EIO;
        }
        if (beyond_recall) {
            gone_out_ += static_cast<std::uint64_t>(written);
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return 0;
}

int OutputFile::commit() {
    const int fd = std::exchange(fd_, -1);
    switch (std::exchange(route_, Route::none)) {
        case Route::none:
        case Route::already_open:
            return 0;
        case Route::opened_here:
            return ::close(fd) != 0 ? errno : 0;
        case Route::temporary:
            break;
    }
    // On local file systems close reports nothing about the data, which the
    // writes already delivered to the kernel; it counts all the same, as on
    // network file systems it is where a failed write-back shows. There is no
    // fsync: inputs are never removed, so a crash can cost only a result that
    // can be made again.
    int error = ::close(fd) != 0 ? errno : 0;
    // Renamed or removed, and forgotten by the handler, as one step.
    const SignalsHeld held;
    if (error == 0) {
        const char* from = temporary_.c_str();
        const char* to = target_.c_str();
        error = at_target_ == AtTarget::replace ? (::rename(from, to) != 0 ? errno : 0) : take_free_name(from, to);
    }
    if (error != 0) {
        ::unlink(temporary_.c_str());
    }
    temporary_in_use = nullptr;
    return error;
}

void OutputFile::abort() {
    const int fd = std::exchange(fd_, -1);
    switch (std::exchange(route_, Route::none)) {
        case Route::none:
        case Route::already_open:
            break;
        case Route::opened_here:
            ::close(fd);
            break;
        case Route::temporary: {
            ::close(fd);
            const SignalsHeld held;
            ::unlink(temporary_.c_str());
            temporary_in_use = nullptr;
            break;
        }
    }
}

void remove_temporary_in_handler() {
    if (const char* name = temporary_in_use.load()) {
        ::unlink(name);
    }
}

}  // namespace programs
