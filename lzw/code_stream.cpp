#include "lzw/code_stream.hpp"

#include <limits>

namespace lzw {

std::int32_t code_width = INITIAL_CODE_BITS;
std::uint32_t bytes_out = 0;
std::uint8_t* write_position = nullptr;

namespace {

// Writer accumulator: `out_count` waiting bits sit left-aligned at the top of
// `out_bits`; between calls 0 <= out_count <= 7.
std::uint32_t out_bits = 0;
std::int32_t out_count = 0;
std::uint8_t* write_end = nullptr;
bool overflowed = false;

// Reader accumulator: `in_count` bits held left-aligned in `in_bits`.
std::uint32_t in_bits = 0;
std::int32_t in_count = 0;

// With a width of at most 17 and at most 7 bits waiting, one code finishes at
// most three bytes.
constexpr std::ptrdiff_t MAX_BYTES_PER_CODE = 3;

}  // namespace

void start_writer(std::uint8_t* output, std::size_t capacity) {
    write_position = output;
    write_end = output + capacity;
    out_bits = 0;
    out_count = 0;
    bytes_out = 0;
    overflowed = false;
}

void write_code(std::uint32_t code) {
    out_bits |= code << (32 - code_width - out_count);
    out_count += code_width;
    const bool room = write_end - write_position >= MAX_BYTES_PER_CODE;
    overflowed = overflowed || !room;
    while (out_count >= 8) {
        if (room) {
            *write_position++ = static_cast<std::uint8_t>(out_bits >> 24);
        }
        out_bits <<= 8;
        out_count -= 8;
        ++bytes_out;
    }
}

bool writer_overflowed() { return overflowed; }

std::size_t stream_capacity(std::uint64_t input_bytes) {
    constexpr std::uint64_t entries_per_dictionary = (1u << MAX_CODE_BITS) - FIRST_FREE_CODE;
    const std::uint64_t bits = 16 * input_bytes + 16 * (input_bytes / entries_per_dictionary) +
                               4 * (MAX_CODE_BITS + 1);
    // The slack lets write_code check for room once per code, not per byte.
    const std::uint64_t bytes = bits / 8 + MAX_BYTES_PER_CODE;
    // Where size_t is narrower, a size no allocation can meet.
    return bytes > std::numeric_limits<std::size_t>::max() ? std::numeric_limits<std::size_t>::max()
                                                            : static_cast<std::size_t>(bytes);
}

void start_reader() {
    in_bits = 0;
    in_count = 0;
}

std::uint32_t read_code(std::FILE* stream) {
    while (in_count <= 24) {
        // End of stream gives -1, which sets every bit from here to the top.
        const auto c = static_cast<std::uint32_t>(std::getc(stream));
        in_bits |= c << (24 - in_count);
        in_count += 8;
    }
    const std::uint32_t code = in_bits >> (32 - code_width);
    in_bits <<= code_width;
    in_count -= code_width;
    return code;
}

}  // namespace lzw
