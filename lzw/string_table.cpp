#include "lzw/string_table.hpp"

#include <cstring>

namespace lzw {

std::uint32_t keys[TABLE_SIZE];
std::uint16_t codes[TABLE_SIZE];

void clear_table() { std::memset(keys, 0xFF, sizeof keys); }

}  // namespace lzw
