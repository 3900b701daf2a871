#include "programs/version.hpp"

#include "mornak.h"

namespace programs {

std::string version_line(const char* program) {
    const unsigned library = mornak_version();  // MAJOR * 10000 + MINOR * 100 + PATCH
    return std::string(program) + " " + MORNAK_VERSION + ", libmornak " + std::to_string(library / 10000) + "." +
           std::to_string(library / 100 % 100) + "." + std::to_string(library % 100);
}

}  // namespace programs
