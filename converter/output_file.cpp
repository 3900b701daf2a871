#include "converter/output_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>  // renameat2
#include <cstdlib>

#include "converter/signals.hpp"

namespace converter {

namespace {

// A short name of its own, so that a target whose name is near the system's
// length limit still gets a temporary file.
constexpr const char* TEMPORARY_NAME = ".mornak-XXXXXX";

// Largest single write; Linux moves at most about 2 GiB per call anyway.
constexpr std::size_t MAX_WRITE = std::size_t{1} << 30;

// The output in the making. `fd` is -1 when none is open; `temporary` names
// the file behind it, empty when writing to standard output.
struct Output {
    int fd = -1;
    std::string temporary;
    std::string target;
    AtTarget at_target = AtTarget::replace;
    std::uint64_t bytes = 0;
};
Output output;

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
    abort_output();
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

void begin_output_to_stdout() {
    abort_output();
    output.fd = STDOUT_FILENO;
}

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
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return 0;
}

std::uint64_t output_bytes() { return output.bytes; }

int commit_output() {
    if (output.temporary.empty()) {  // standard output stays open
        output = Output{};
        return 0;
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
    if (output.fd >= 0 && !output.temporary.empty()) {
        ::close(output.fd);
    }
    reset_output(true);
}

void remove_temporary_in_handler() {
    if (const char* name = temporary_in_use.load()) {
        ::unlink(name);
    }
}

}  // namespace converter
