// A small LZW decoder for the tests, built on the module's own read_code: it
// turns a code stream back into bytes and records every code it read, so the
// tests can check widths, CLEAR_CODE positions and the encoder's ratio rule.
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

Decoded decode_stream(std::span<const std::uint8_t> stream);

// An empty string when the CLEAR_CODEs in `decoded` stand exactly where the
// encoder's ratio rule puts them, otherwise where they differ. Also yields the
// number of progress dots the encoder prints for that stream.
std::string check_ratio_rule(const Decoded& decoded, std::size_t& dots);
