// Variable-width code stream: packs LZW codes into bytes and takes them back out.
//
// Codes are concatenated most significant bit first with no separators and no
// byte alignment; each takes exactly `code_width` bits at the moment it is
// written. The first code starts in the top bit of the first byte. Bits still
// waiting in the writer when writing stops (fewer than 8) are never stored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace lzw {

inline constexpr std::int32_t INITIAL_CODE_BITS = 11;
inline constexpr std::int32_t MAX_CODE_BITS = 16;

// The code alphabet: 0..255 are single bytes, then two control codes, then
// dictionary strings numbered in the order the encoder creates them.
inline constexpr std::uint32_t CLEAR_CODE = 256;
inline constexpr std::uint32_t END_CODE = 257;
inline constexpr std::uint32_t FIRST_FREE_CODE = 258;

// Bits per code for both writer and reader, read at every call. The encoder
// moves it between 11 and 16 and may raise it to 17 for the closing codes.
extern std::int32_t code_width;

// Stream bytes stored since the start or since the last CLEAR_CODE; the
// encoder reads it for its ratio checks and resets it on a fresh dictionary.
extern std::uint32_t bytes_out;

// Next free byte of the output area; it never passes the area's end.
extern std::uint8_t* write_position;

// Points the writer at an empty output area of `capacity` bytes and empties
// its accumulator and `bytes_out`. `write_position` starts at `output`.
void start_writer(std::uint8_t* output, std::size_t capacity);

// Appends `code` (below 2^code_width) at the current width. A byte is stored
// the moment its eighth bit arrives. Bytes that would land past the end of the
// output area are dropped and `writer_overflowed()` turns true.
void write_code(std::uint32_t code);

// True once a write has been dropped for want of room since start_writer.
bool writer_overflowed();

// Most bytes the encoder can store for an input of `input_bytes` bytes. Each
// written data code stands for at least one input byte and is at most 16
// bits; a CLEAR_CODE (16 bits) needs 65278 data codes before it; the closing
// four codes take at most 17 bits each.
std::size_t stream_capacity(std::uint64_t input_bytes);

// Empties the reader's accumulator, for the start of a new stream.
void start_reader();

// Takes one code at the current width from `stream`. The reader keeps 25 to
// 32 bits in hand, so it reads up to 32 - code_width bits beyond the code it
// returns; past the end of the stream every bit from there upward reads as 1.
std::uint32_t read_code(std::FILE* stream);

}  // namespace lzw
