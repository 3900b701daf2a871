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
#include <span>

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

// Takes each run of stored bytes off the writer's hands, in order; false
// when they could not be kept, after which nothing more is handed over.
using Drain = bool (*)(std::span<const std::uint8_t> bytes);

// Points the writer at an empty area of `capacity` bytes (at least
// MIN_AREA_BYTES), which it hands to `drain` each time it is nearly full, and
// empties its accumulator and `bytes_out`.
inline constexpr std::size_t MIN_AREA_BYTES = 16;
void start_writer(std::uint8_t* area, std::size_t capacity, Drain drain);

// The writer's state, kept together and set by start_writer. Stored bytes wait
// in [area, position) until the area is drained.
struct CodeWriter {
    std::uint32_t out_bits;    // waiting bits, left-aligned at the top
    std::int32_t out_count;    // number of waiting bits; 0..7 between calls
    std::uint8_t* position;    // next free byte of the area
    std::uint8_t* drain_mark;  // once position passes it, the area is drained before the next code
    std::uint8_t* area;
    Drain drain;
    bool failed;               // a drain failed: later bytes are dropped
};
extern CodeWriter writer;

// Hands the area's bytes to the drain and starts it afresh.
void drain_area();

// Appends `code` (below 2^code_width) at the current width. A byte is stored
// the moment its eighth bit arrives. Inline: the encoder calls it for every code.
inline void write_code(std::uint32_t code) {
    if (writer.position > writer.drain_mark) {
        drain_area();
    }
    writer.out_bits |= code << (32 - code_width - writer.out_count);
    writer.out_count += code_width;
    while (writer.out_count >= 8) {
        *writer.position++ = static_cast<std::uint8_t>(writer.out_bits >> 24);
        writer.out_bits <<= 8;
        writer.out_count -= 8;
        ++bytes_out;
    }
}

// Hands every byte stored so far to the drain. The bits still waiting in the
// accumulator (fewer than 8) are never stored. False when any drain failed.
bool flush_writer();

// True once a drain has failed since start_writer.
bool writer_failed();

// Empties the reader's accumulator, for the start of a new stream.
void start_reader();

// Takes one code at the current width from `stream`. The reader keeps 25 to
// 32 bits in hand, so it reads up to 32 - code_width bits beyond the code it
// returns; past the end of the stream every bit from there upward reads as 1.
std::uint32_t read_code(std::FILE* stream);

}  // namespace lzw
