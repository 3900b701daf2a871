#include "lzw/code_stream.hpp"


namespace lzw {

std::int32_t code_width = INITIAL_CODE_BITS;
std::uint32_t bytes_out = 0;
CodeWriter writer{};

namespace {

// Reader accumulator: `in_count` bits held left-aligned in `in_bits`.
std::uint32_t in_bits = 0;
std::int32_t in_count = 0;

}  // namespace

void start_writer(std::uint8_t* area, std::size_t capacity, Drain drain) {
    // With a width of at most 17 and at most 7 bits waiting, one code
    // finishes at most three bytes.
    writer = {0, 0, area, area + capacity - 3, area, drain, false};
    bytes_out = 0;
}

void drain_area() {
    if (!writer.failed && writer.position != writer.area) {
        writer.failed = !writer.drain({writer.area, writer.position});
    }
    writer.position = writer.area;
}

bool flush_writer() {
    drain_area();
    return !writer.failed;
}

bool writer_failed() { return writer.failed; }

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
