#include "converter/bk_header.hpp"

#include <algorithm>

namespace converter {

namespace {
constexpr std::array<std::uint8_t, 4> MAGIC = {'b', 'o', 'o', 'k'};
}

std::array<std::uint8_t, HEADER_BYTES> make_header(std::int32_t input_size) {
    const auto size = static_cast<std::uint32_t>(input_size);
    return {MAGIC[0], MAGIC[1], MAGIC[2], MAGIC[3], static_cast<std::uint8_t>(size),
            static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size >> 16),
            static_cast<std::uint8_t>(size >> 24)};
}

HeaderFault parse_header(std::span<const std::uint8_t> bytes, std::int32_t& length) {
    if (bytes.size() < HEADER_BYTES) {
        return HeaderFault::too_short;
    }
    if (!std::equal(MAGIC.begin(), MAGIC.end(), bytes.begin())) {
        return HeaderFault::wrong_magic;
    }
    std::uint32_t value = 0;
    for (std::size_t i = HEADER_BYTES; i-- > MAGIC.size();) {
        value = value << 8 | bytes[i];
    }
    if (value > 0x7FFFFFFFu) {
        return HeaderFault::negative_length;
    }
    length = static_cast<std::int32_t>(value);
    return HeaderFault::none;
}

}  // namespace converter
