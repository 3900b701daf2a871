#include "programs/standard_output.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace programs {

int finish_standard_output(const char* program, int status) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "%s: can't write to standard output: %s\n", program, std::strerror(errno));
        return status == 0 ? 1 : status;
    }
    return status;
}

}  // namespace programs
