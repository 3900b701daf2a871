// Adaptive LZW encoder: input bytes in, variable-width codes out.
//
// Codes start 11 bits wide and widen by one bit whenever the codes of the
// current width are used up, up to 16. Once the dictionary is full at 16 bits
// the encoder checks its output/input ratio every 100 input bytes and starts a
// fresh dictionary (CLEAR_CODE, back to 11 bits) when the ratio got worse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "lzw/code_stream.hpp"

namespace lzw {

// 2^code_width - 1 while the dictionary grows. Below 16 bits `next_code`
// never exceeds `max_code` at the top of the encoding loop, so every code
// handed to the writer fits in `code_width` bits.
extern std::uint32_t max_code;

// errno of the failed read that ended the last compress_file early; 0 when
// it read its input to the end.
extern int read_error;

// Where compress_file prints "Compressing", the dots and the closing
// newline; null keeps it quiet. Standard output unless changed.
extern std::FILE* progress_output;

// Sets all of the engine's process-wide state back to where a fresh process
// starts (11-bit codes, empty accumulators, fresh counters) and points the
// writer at `area` (see start_writer). compress_file will read at most
// `input_limit` bytes, and one more to tell whether the input ends there.
void start_engine(std::uint8_t* area, std::size_t capacity, Drain drain, std::uint64_t input_limit);

// Reads `input` to its end and writes its complete code stream, closing codes
// included, handing every stored byte to the drain. Prints "Compressing", a
// dot per 10000 input bytes (the count restarts with each fresh dictionary)
// and a closing newline. Stops early if a read fails (then std::ferror(input)
// is set and read_error says why), if a drain fails (writer_failed()), or
// once it has read one byte past `input_limit` (the input outgrew its size).
void compress_file(std::FILE* input);

}  // namespace lzw
