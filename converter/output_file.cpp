#include "converter/output_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>

namespace converter {

namespace {

// A short name of its own, so that a target whose name is near the system's
// length limit still gets a temporary file.
constexpr const char* TEMPORARY_NAME = ".mornak-XXXXXX";

// Largest single write; Linux moves at most about 2 GiB per call anyway.
constexpr std::size_t MAX_WRITE = std::size_t{1} << 30;

constexpr int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

// The temporary file's name from its creation until it is renamed or
// removed, else null. Read by the signal handler, hence lock-free.
std::atomic<const char*> temporary_in_use{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free);

extern "C" void remove_temporary_and_end(int signal_number) {
    if (const char* name = temporary_in_use.load()) {
        ::unlink(name);
    }
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);  // delivered as soon as this handler returns
}

// Holds back the cleanup signals while the temporary file comes into being or
// goes away, so that temporary_in_use always says whether it exists.
struct SignalsHeld {
    sigset_t before{};
    SignalsHeld() {
        sigset_t held;
        sigemptyset(&held);
        for (const int s : CLEANUP_SIGNALS) {
            sigaddset(&held, s);
        }
        ::sigprocmask(SIG_BLOCK, &held, &before);
    }
    ~SignalsHeld() { ::sigprocmask(SIG_SETMASK, &before, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;
};

// The new file's descriptor, or -1 with the reason in `error`.
int create_temporary(std::string& name, int& error) {
    const SignalsHeld held;
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    error = fd < 0 ? errno : 0;
    if (fd >= 0) {
        temporary_in_use = name.c_str();
    }
    return fd;
}

// Renames the temporary file over `target`, or removes it after a failure.
int settle_temporary(const std::string& name, const std::string& target, int error) {
    const SignalsHeld held;
    if (error == 0 && ::rename(name.c_str(), target.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(name.c_str());
    }
    temporary_in_use = nullptr;
    return error;
}

std::string temporary_template(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    return folder + TEMPORARY_NAME;
}

mode_t creation_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

int write_all(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), std::min(bytes.size(), MAX_WRITE));
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

int fill_and_close(int fd, std::span<const std::uint8_t> header, std::span<const std::uint8_t> body) {
    int error = ::fchmod(fd, creation_mode()) != 0 ? errno : 0;
    if (error == 0) {
        error = write_all(fd, header);
    }
    if (error == 0) {
        error = write_all(fd, body);
    }
    // Delayed write errors surface at close, so its result counts too.
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    return error;
}

}  // namespace

std::array<std::uint8_t, HEADER_BYTES> make_header(std::int32_t input_size) {
    const auto size = static_cast<std::uint32_t>(input_size);
    return {'b', 'o', 'o', 'k', static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8),
            static_cast<std::uint8_t>(size >> 16), static_cast<std::uint8_t>(size >> 24)};
}

int write_output_file(const std::string& target, std::span<const std::uint8_t> header,
                      std::span<const std::uint8_t> body) {
    std::string temporary = temporary_template(target);
    int error = 0;
    const int fd = create_temporary(temporary, error);
    if (fd < 0) {
        return error;
    }
    return settle_temporary(temporary, target, fill_and_close(fd, header, body));
}

void remove_temporary_on_signals() {
    struct sigaction action {};
    action.sa_handler = remove_temporary_and_end;
    sigemptyset(&action.sa_mask);
    for (const int s : CLEANUP_SIGNALS) {
        // A signal ignored from the start (nohup, a background job) stays ignored.
        struct sigaction previous {};
        if (::sigaction(s, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN) {
            ::sigaction(s, &action, nullptr);
        }
    }
}

}  // namespace converter
