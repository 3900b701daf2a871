// mornak's conversion of one open file: reads it in blocks, runs them
// through the library's encoder, hands the .bk bytes on, and shows progress.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

#include "mornak.h"

namespace programs {

// Takes each run of .bk bytes, in order; 0, or the errno of a failed write,
// after which nothing more is handed over.
using Sink = int (*)(std::span<const std::uint8_t> bytes);

struct Conversion {
    enum Outcome { converted, write_failed, read_failed, changed } outcome;
    int error;  // errno of the failed write or read
};

// Converts `input`, measured at `size` bytes, into a whole .bk file handed
// to `sink`, header first. Prints "Compressing", a dot per 10,000 input bytes
// (the count starts after the first byte and again with each fresh
// dictionary) and a closing newline to `console`, when not null; on a
// terminal the dots appear as they come. Reads at most one byte past `size`,
// so a file that keeps growing cannot run on; a file that turns out longer
// or shorter than `size` is `changed`.
Conversion compress_file(mornak_encoder* encoder, std::FILE* input, std::int64_t size, Sink sink,
                         std::FILE* console);

}  // namespace programs
