#include "programs/input_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace programs {

namespace {

InputFile failed(InputFile::Step step, int error) {
    InputFile input;
    input.failed_step = step;
    input.error = error;
    return input;
}

}  // namespace

InputFile open_input(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return failed(InputFile::Step::open, errno);
    }
    std::FILE* stream = ::fdopen(fd, "rb");
    if (stream == nullptr) {
        const int error = errno;
        ::close(fd);
        return failed(InputFile::Step::fdopen, error);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        InputFile input = failed(InputFile::Step::fstat, errno);
        input.stream.reset(stream);
        return input;
    }
    InputFile input;
    input.stream.reset(stream);
    if (S_ISDIR(info.st_mode)) {
        input.kind = InputFile::Kind::folder;
    } else if (!S_ISREG(info.st_mode)) {
        input.kind = InputFile::Kind::other;
    } else {
        input.kind = InputFile::Kind::regular;
        input.size = info.st_size;
        input.mode = info.st_mode;
        input.device = info.st_dev;
        input.inode = info.st_ino;
    }
    return input;
}

bool InputFile::ended_at_size() const { return std::feof(stream.get()) != 0 && std::ftell(stream.get()) == size; }

int InputFile::size_now() const {
    struct stat info {};
    if (::fstat(::fileno(stream.get()), &info) != 0) {
        return errno;
    }
    return info.st_size == size ? 0 : -1;
}

bool InputFile::is_named(const char* path) const {
    struct stat info {};
    return kind == Kind::regular && ::stat(path, &info) == 0 && info.st_dev == device && info.st_ino == inode;
}

bool InputFile::is_open_as(int fd) const {
    struct stat info {};
    return kind == Kind::regular && ::fstat(fd, &info) == 0 && info.st_dev == device && info.st_ino == inode;
}

}  // namespace programs
