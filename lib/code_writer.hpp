// Packs LZW codes into bytes: most significant bit first, no separators, no
// byte alignment, each code exactly as wide as the width it is written at.
// The first code starts in the top bit of the first byte. Bits still waiting
// when writing stops (fewer than 8) are never stored.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace mornak {

// The encoder keeps a CodeWriter in local variables while it runs (so the
// compiler holds it in registers) and in its context between runs.
struct CodeWriter {
    std::uint64_t out_bits = 0;  // waiting bits, left-aligned at the top
    int out_count = 0;           // number of waiting bits: 0..7 between codes
    std::uint8_t* position = nullptr;  // where the next finished byte goes
};

// Appends `code` (below 2^width) at `width` bits (11..17). The bytes it
// finishes (at most three) are stored at once, without a branch: eight bytes
// are written at `position`, which must have that many bytes of room, and
// the position moves past the finished ones only.
inline void write_code(CodeWriter& w, std::uint32_t code, int width) {
    w.out_bits |= std::uint64_t{code} << (64 - width - w.out_count);
    w.out_count += width;
    std::uint64_t first_bits_first = w.out_bits;
    if constexpr (std::endian::native == std::endian::little) {
        first_bits_first = __builtin_bswap64(first_bits_first);
    }
    std::memcpy(w.position, &first_bits_first, sizeof first_bits_first);
    const int finished = w.out_count >> 3;
    w.position += finished;
    w.out_bits <<= 8 * finished;
    w.out_count &= 7;
}

}  // namespace mornak
