#include "programs/version.hpp"

#include <cstdio>

#include "mornak.h"

namespace programs {

void print_version_line(const char* program) {
    const unsigned library = mornak_version();  // MAJOR * 10000 + MINOR * 100 + PATCH
    std::printf("%s %s, libmornak %u.%u.%u\n", program, MORNAK_VERSION, library / 10000, library / 100 % 100,
                library % 100);
}

}  // namespace programs
