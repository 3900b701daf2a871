// read_code on any bytes at any sequence of widths the stream uses (11 to 17
// bits). The first byte says how many widths follow (1 to 16); they repeat in
// turn, and the rest of the input is the stream. Each code must equal the
// stream's bits read independently while the reader stays inside the stream,
// and all ones once the code starts past its end.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "lzw/code_stream.hpp"

namespace {

std::uint32_t bits_at(const std::uint8_t* stream, std::uint64_t bit, int width) {
    std::uint32_t value = 0;
    for (int i = 0; i < width; ++i, ++bit) {
        value = value << 1 | ((std::uint32_t{stream[bit / 8]} >> (7 - bit % 8)) & 1u);
    }
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::size_t count = 1 + data[0] % 16;
    if (size < 1 + count) {
        return 0;
    }
    std::vector<int> widths;
    for (std::size_t i = 0; i < count; ++i) {
        widths.push_back(11 + data[1 + i] % 7);
    }
    // A heap copy of exactly the stream, so reading past it would be caught.
    const std::vector<std::uint8_t> stream(data + 1 + count, data + size);
    std::FILE* file = stream.empty() ? std::fopen("/dev/null", "rb")
                                     : ::fmemopen(const_cast<std::uint8_t*>(stream.data()), stream.size(), "rb");
    if (file == nullptr) {
        std::abort();
    }
    lzw::start_reader();
    const std::uint64_t total = 8 * std::uint64_t{stream.size()};
    std::uint64_t bit = 0;
    // Until every code starts past the end, and a few more.
    for (std::size_t k = 0; bit < total + 4 * 17; ++k) {
        const int width = widths[k % widths.size()];
        lzw::code_width = width;
        const std::uint32_t code = lzw::read_code(file);
        if (code >> width != 0) {
            std::abort();  // wider than the width asked for
        }
        // The reader holds at most 32 bits from the code's start, so before
        // those reach the end it cannot have seen it.
        if (bit + 32 <= total && code != bits_at(stream.data(), bit, width)) {
            std::abort();
        }
        if (bit >= total && code != (1u << width) - 1) {
            std::abort();
        }
        bit += static_cast<std::uint64_t>(width);
    }
    std::fclose(file);
    return 0;
}
