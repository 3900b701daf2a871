// The round-trip matrix: inputs chosen to reach every rule of the stream
// (widths, CLEAR_CODEs, the closing codes' width, the decoder's window),
// shared by the tests that convert and restore them in one piece and in chunks.
#pragma once

#include <string>
#include <vector>

#include "support.hpp"

struct RoundTrip {
    std::string name;
    Bytes input;
    int end_width = 0;    // width of END_CODE, when the case pins it
    int final_width = 0;  // width of the last data code, when pinned
    int clears = 0;       // at least this many CLEAR_CODEs
    std::uint64_t closing_bits = 0;  // stream bits after the last data code, when pinned
    bool large = false;   // too large to convert and restore in every chunking
};

// Built once per process: the largest rows take a moment to make.
const std::vector<RoundTrip>& round_trip_rows();
