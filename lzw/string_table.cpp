#include "lzw/string_table.hpp"

#include <algorithm>
#include <iterator>

namespace lzw {

Slot table[TABLE_SIZE];
std::uint8_t tag[TABLE_SIZE];
std::uint64_t seen[PAIR_BITS / 64];

void clear_table() {
    for (Slot& slot : table) {
        slot.code = EMPTY_SLOT;
    }
    std::fill(std::begin(tag), std::end(tag), EMPTY_TAG);
    std::fill(std::begin(seen), std::end(seen), 0);
}

}  // namespace lzw
