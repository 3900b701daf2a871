#include "lzw/code_stream.hpp"


namespace lzw {

std::int32_t code_width = INITIAL_CODE_BITS;
std::uint32_t bytes_out = 0;

namespace {

// Writer accumulator: `out_count` waiting bits sit left-aligned at the top of
// `out_bits`; between calls 0 <= out_count <= 7.
std::uint32_t out_bits = 0;
std::int32_t out_count = 0;

// Stored bytes wait in [area, write_position); the area is drained once fewer
// than MAX_BYTES_PER_CODE bytes are left before area_end.
std::uint8_t* area = nullptr;
std::uint8_t* area_end = nullptr;
std::uint8_t* write_position = nullptr;
Drain drain = nullptr;
bool failed = false;

// Reader accumulator: `in_count` bits held left-aligned in `in_bits`.
std::uint32_t in_bits = 0;
std::int32_t in_count = 0;

// With a width of at most 17 and at most 7 bits waiting, one code finishes at
// most three bytes.
constexpr std::ptrdiff_t MAX_BYTES_PER_CODE = 3;

}  // namespace

void start_writer(std::uint8_t* output, std::size_t capacity, Drain to) {
    area = output;
    area_end = output + capacity;
    write_position = output;
    drain = to;
    out_bits = 0;
    out_count = 0;
    bytes_out = 0;
    failed = false;
}

bool flush_writer() {
    if (!failed && write_position != area) {
        failed = !drain({area, write_position});
    }
    write_position = area;  // after a failure the bytes are dropped
    return !failed;
}

void write_code(std::uint32_t code) {
    out_bits |= code << (32 - code_width - out_count);
    out_count += code_width;
    if (area_end - write_position < MAX_BYTES_PER_CODE) {
        flush_writer();
    }
    while (out_count >= 8) {
        *write_position++ = static_cast<std::uint8_t>(out_bits >> 24);
        out_bits <<= 8;
        out_count -= 8;
        ++bytes_out;
    }
}

bool writer_failed() { return failed; }

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
