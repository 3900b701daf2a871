// The tests' view of the product decoder: it turns a code stream back into
// bytes and records every code it read, so the tests can check widths,
// CLEAR_CODE positions and the encoder's ratio rule, and adds one check of its
// own: every code is the longest match the dictionary held.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct TracedCode {
    std::uint32_t code;
    int width;               // bits it was read at
    std::uint64_t end_bit;   // stream bit offset just after it
    std::uint32_t length;    // input bytes it stands for; 0 for CLEAR_CODE and END_CODE
    std::uint32_t entries;   // the decoder's next entry number after reading it
};

struct Decoded {
    std::string error;  // empty when the stream was well formed
    std::vector<std::uint8_t> bytes;
    std::vector<TracedCode> codes;  // END_CODE included, filler not
};

// `expected` is the byte count the header gives; ANY_LENGTH lets the stream
// restore any number of bytes (up to what a header can give). `told`, when
// not 0, is the stream size the decoder is told, which a file that shrinks
// while it is read makes larger than what arrives.
inline constexpr std::uint64_t ANY_LENGTH = 0x7FFFFFFF;
Decoded decode_stream(std::span<const std::uint8_t> stream, std::uint64_t expected = ANY_LENGTH,
                      std::uint64_t told = 0);

// An empty string when the CLEAR_CODEs in `decoded` stand exactly where the
// encoder's ratio rule puts them, otherwise where they differ. Also yields the
// number of progress dots the encoder prints for that stream.
std::string check_ratio_rule(const Decoded& decoded, std::size_t& dots);
