#include "programs/output_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>  // renameat2
#include <cstdlib>

#include "programs/signals.hpp"

namespace programs {

namespace {

// A short name of its own, so that a target whose name is near the system's
// length limit still gets a temporary file.
constexpr const char* TEMPORARY_NAME = ".mornak-XXXXXX";

// Largest single write; Linux moves at most about 2 GiB per call anyway.
constexpr std::size_t MAX_WRITE = std::size_t{1} << 30;

// The output in the making. `fd` is -1 when none is open; `temporary` names
// the file behind it, empty when writing into something already open.
struct Output {
    int fd = -1;
    bool opened_here = false;  // `fd` is a node begin_named_output opened: closed at the end
    std::string temporary;
    std::string target;
    AtTarget at_target = AtTarget::replace;
    std::uint64_t bytes = 0;
};
Output output;

// Bytes written into something already open since the last begin.
std::uint64_t gone_out = 0;

// The temporary file's name from its creation until it is renamed or
// removed, else null. Read by the signal handler, hence lock-free.
std::atomic<const char*> temporary_in_use{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free);

std::string temporary_template(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    return folder + TEMPORARY_NAME;
}

// Forgets the output; with `remove`, removes its temporary file too.
void reset_output(bool remove) {
    {
        const SignalsHeld held;
        if (remove && !output.temporary.empty()) {
            ::unlink(output.temporary.c_str());
        }
        temporary_in_use = nullptr;
    }
    output = Output{};
}

void start_afresh() {
    abort_output();
    gone_out = 0;
}

void write_into(int fd, bool opened_here) {
    start_afresh();
    output.fd = fd;
    output.opened_here = opened_here;
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

int begin_output(const std::string& target, mode_t mode, AtTarget at_target) {
    start_afresh();
    output.target = target;
    output.at_target = at_target;
    output.temporary = temporary_template(target);
    int error = 0;
    {
        const SignalsHeld held;
        output.fd = ::mkostemp(output.temporary.data(), O_CLOEXEC);
        if (output.fd < 0) {
            error = errno;
        } else {
            temporary_in_use = output.temporary.c_str();
        }
    }
    if (error == 0 && ::fchmod(output.fd, mode) != 0) {
        error = errno;
    }
    if (error != 0) {
        abort_output();
    }
    return error;
}

int begin_named_output(const std::string& target, mode_t mode) {
    struct stat info {};
    if (::stat(target.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) {
        return begin_output(target, mode, AtTarget::replace);
    }
    if (S_ISREG(info.st_mode)) {
        // A link such as /dev/stdout is replaced like any other unless it
        // names a file this process already writes to: replacing it would
        // leave the system's link a plain file.
        struct stat name {};
        const bool link = ::lstat(target.c_str(), &name) == 0 && S_ISLNK(name.st_mode);
        const int fd = link ? standard_descriptor_for(info) : -1;
        if (fd < 0) {
            return begin_output(target, mode, AtTarget::replace);
        }
        write_into(fd, false);
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
        return begin_output(target, mode, AtTarget::replace);
    }
    write_into(fd, true);
    return 0;
}

void begin_output_to_stdout() { write_into(STDOUT_FILENO, false); }

int append_output(std::span<const std::uint8_t> bytes) {
    output.bytes += bytes.size();
    while (!bytes.empty()) {
        const ssize_t written = ::write(output.fd, bytes.data(), std::min(bytes.size(), MAX_WRITE));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (written == 0) {
            return EIO;
        }
        if (output.temporary.empty()) {
            gone_out += static_cast<std::uint64_t>(written);
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return 0;
}

std::uint64_t output_bytes() { return output.bytes; }

std::uint64_t bytes_gone_out() { return gone_out; }

int commit_output() {
    if (output.temporary.empty()) {  // only a node opened here is closed; standard output stays open
        const int error = output.opened_here && ::close(output.fd) != 0 ? errno : 0;
        output = Output{};
        return error;
    }
    // On local file systems close reports nothing about the data, which the
    // writes already delivered to the kernel; it counts all the same, as on
    // network file systems it is where a failed write-back shows. There is no
    // fsync: inputs are never removed, so a crash can cost only a result that
    // can be made again.
    int error = ::close(output.fd) != 0 ? errno : 0;
    output.fd = -1;
    if (error == 0) {
        const SignalsHeld held;
        const char* from = output.temporary.c_str();
        const char* to = output.target.c_str();
        if (output.at_target == AtTarget::replace) {
            error = ::rename(from, to) != 0 ? errno : 0;
        } else {
            error = take_free_name(from, to);
        }
        if (error == 0) {
            temporary_in_use = nullptr;
            output.temporary.clear();
        }
    }
    reset_output(true);
    return error;
}

void abort_output() {
    if (output.fd >= 0 && (output.opened_here || !output.temporary.empty())) {
        ::close(output.fd);
    }
    reset_output(true);
}

void remove_temporary_in_handler() {
    if (const char* name = temporary_in_use.load()) {
        ::unlink(name);
    }
}

}  // namespace programs
