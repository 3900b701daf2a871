#include "converter/output_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace converter {

namespace {

// A short name of its own, so that a target whose name is near the system's
// length limit still gets a temporary file.
constexpr const char* TEMPORARY_NAME = ".mornak-XXXXXX";

// Largest single write; Linux moves at most about 2 GiB per call anyway.
constexpr std::size_t MAX_WRITE = std::size_t{1} << 30;

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

int write_output_file(const std::string& target, std::span<const std::uint8_t> header,
                      std::span<const std::uint8_t> body) {
    std::string temporary = temporary_template(target);
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    int error = fill_and_close(fd, header, body);
    if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temporary.c_str());
    }
    return error;
}

}  // namespace converter
