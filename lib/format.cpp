#include "format.hpp"

#include <algorithm>

namespace mornak {

mornak_status parse_header(const std::uint8_t (&header)[HEADER_BYTES], std::uint32_t& length) {
    if (!std::equal(MAGIC.begin(), MAGIC.end(), header)) {
        return MORNAK_ERROR_NOT_BK;
    }
    std::uint32_t value = 0;
    for (std::size_t i = HEADER_BYTES; i-- > MAGIC.size();) {
        value = value << 8 | header[i];
    }
    if (value > static_cast<std::uint32_t>(MORNAK_MAX_INPUT)) {
        return MORNAK_ERROR_NEGATIVE_LENGTH;
    }
    length = value;
    return MORNAK_OK;
}

}  // namespace mornak
