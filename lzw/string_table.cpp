#include "lzw/string_table.hpp"

#include <algorithm>
#include <iterator>

namespace lzw {

std::int32_t code[TABLE_SIZE];
std::int32_t prefix[TABLE_SIZE];
std::uint8_t byte[TABLE_SIZE];

void clear_table() { std::fill(std::begin(code), std::end(code), EMPTY_SLOT); }

}  // namespace lzw
