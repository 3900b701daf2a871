// Packs LZW codes into bytes: most significant bit first, no separators, no
// byte alignment, each code exactly as wide as the width it is written at.
// The first code starts in the top bit of the first byte. Bits still waiting
// when writing stops (fewer than 8) are never stored.
#pragma once

#include <cstdint>

namespace mornak {

// The encoder keeps a CodeWriter in local variables while it runs (so the
// compiler holds it in registers) and in its context between runs.
struct CodeWriter {
    std::uint32_t out_bits = 0;  // waiting bits, left-aligned at the top
    int out_count = 0;           // number of waiting bits: 0..7 between codes
    std::uint8_t* position = nullptr;  // where the next finished byte goes
};

// Appends `code` (below 2^width) at `width` bits (11..17). A byte is stored
// the moment its eighth bit arrives, so one code stores at most three.
inline void write_code(CodeWriter& w, std::uint32_t code, int width) {
    w.out_bits |= code << (32 - width - w.out_count);
    w.out_count += width;
    while (w.out_count >= 8) {
        *w.position++ = static_cast<std::uint8_t>(w.out_bits >> 24);
        w.out_bits <<= 8;
        w.out_count -= 8;
    }
}

}  // namespace mornak
