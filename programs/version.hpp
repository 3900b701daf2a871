// What --version says after the program's own banner, if it has one.
#pragma once

#include <string>

namespace programs {

// "PROGRAM X.Y.Z, libmornak A.B.C": the project's version this program was
// built as, and the version of the library it runs with, as mornak_version()
// gives it.
std::string version_line(const char* program);

}  // namespace programs
