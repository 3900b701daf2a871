// What --version says after the program's own banner, if it has one.
#pragma once

namespace programs {

// Prints "PROGRAM X.Y.Z, libmornak A.B.C" and a newline on standard output:
// the project's version this program was built as, and the version of the
// library it runs with, as mornak_version() gives it.
void print_version_line(const char* program);

}  // namespace programs
