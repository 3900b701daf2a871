// A .bk file as unmornak reads it: opened as every input is, its header's
// bytes read first and on their own, so that a damaged header is refused
// before anything else is done, then the rest in blocks, never past the size
// the file had when it was opened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "mornak.h"
#include "programs/input_file.hpp"

namespace programs {

struct BkFile {
    const char* path;
    InputFile input{};
    std::uint8_t header[MORNAK_HEADER_BYTES] = {};
    std::size_t header_got = 0;  // header bytes read; fewer than all only where the file ends
    std::uint64_t length = 0;    // the header's length, for words and reports; 0 when it gives none
    std::uint64_t left = 0;      // bytes of the measured size not read yet
};

// Opens `bk.path` and reads the header's bytes; judging them is left to the
// decoder or verifier they are fed to. Null, or what went wrong in
// unmornak's words.
const char* open_bk(BkFile& bk);

// Reads the next block into `into`, at most to the measured size; `got` is
// how many bytes came. 0, or the errno of a failed read.
int read_block(BkFile& bk, std::span<std::uint8_t> into, std::size_t& got);

// After the last byte: the file ended where its size said, so it did not
// grow or shrink while it was read.
bool read_as_measured(const BkFile& bk);

}  // namespace programs
