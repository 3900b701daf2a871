// The .bk header: "book", then the input's length as signed 32-bit
// little-endian. The code stream follows at byte HEADER_BYTES.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace converter {

inline constexpr std::size_t HEADER_BYTES = 8;

std::array<std::uint8_t, HEADER_BYTES> make_header(std::int32_t input_size);

enum class HeaderFault { none, too_short, wrong_magic, negative_length };

// Reads a header from the first bytes of a file; `length` is set when the
// result is HeaderFault::none.
HeaderFault parse_header(std::span<const std::uint8_t> bytes, std::int32_t& length);

}  // namespace converter
