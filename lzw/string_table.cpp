#include "lzw/string_table.hpp"

#include "lzw/huge_page.hpp"

#include <cstring>

namespace lzw {

namespace {
struct Tables {
    std::uint32_t keys[TABLE_SIZE];
    std::uint16_t codes[TABLE_SIZE];
};
static_assert(sizeof(Tables) <= HUGE_PAGE);
HugePageRoom room;
Tables& tables = *reinterpret_cast<Tables*>(huge_page_in(room));
}  // namespace

std::uint32_t (&keys)[TABLE_SIZE] = tables.keys;
std::uint16_t (&codes)[TABLE_SIZE] = tables.codes;

void clear_table() { std::memset(keys, 0xFF, sizeof keys); }

}  // namespace lzw
