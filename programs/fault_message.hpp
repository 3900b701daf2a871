// What is wrong with a .bk file, in the words unmornak uses after
// "unmornak: PATH: ", e.g. "damaged: code 1121 at byte 8 names no entry yet".
// Shared by everything that reports on .bk files (unmornak, the web page).
#pragma once

#include <cstdint>
#include <string>

#include "mornak.h"

namespace programs {

// `fault` as the decoder or verifier gave it; `file_size` is the .bk file's
// size in bytes and `length` its header's length (0 when the header itself
// is at fault). For a status that is no fault of the file, its name.
std::string fault_message(const mornak_fault& fault, std::uint64_t file_size, std::uint64_t length);

}  // namespace programs
