#include "programs/input_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>

namespace programs {

int open_input(const char* path) { return ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC); }

InputKind inspect_input(int fd, std::int64_t& size, mode_t& mode) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        return InputKind::unknown;
    }
    if (S_ISDIR(info.st_mode)) {
        return InputKind::folder;
    }
    if (!S_ISREG(info.st_mode)) {
        return InputKind::other;
    }
    size = info.st_size;
    mode = info.st_mode;
    return InputKind::regular;
}

bool ended_at(std::FILE* stream, std::int64_t size) {
    return std::feof(stream) != 0 && std::ftell(stream) == size;
}

}  // namespace programs
