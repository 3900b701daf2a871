// The encoder's dictionary: an open-addressed hash table keyed by
// (prefix code, next byte), held in three parallel arrays allocated once.
#pragma once

#include <cstdint>

namespace lzw {

// A prime above the 65278 entries that codes 258..65535 can name, so at least
// 2499 slots are always empty and every probe sequence ends.
inline constexpr std::int32_t TABLE_SIZE = 67777;

inline constexpr std::int32_t EMPTY_SLOT = -1;

// Only `code` is ever cleared: `prefix` and `byte` of a slot whose `code` is
// EMPTY_SLOT hold stale values that are never looked at.
extern std::int32_t code[TABLE_SIZE];    // code of the string in the slot
extern std::int32_t prefix[TABLE_SIZE];  // code of the string without its last byte
extern std::uint8_t byte[TABLE_SIZE];    // last byte of the string

// Marks every slot empty.
void clear_table();

// The slot that holds (prefix_code, next_byte), or the empty slot where that
// pair belongs. prefix_code is below 65536. Returns 0..TABLE_SIZE-1.
inline std::int32_t find_slot(std::int32_t prefix_code, std::uint8_t next_byte) {
    std::int32_t h = (static_cast<std::int32_t>(next_byte) << 8) ^ prefix_code;  // 0..65535
    const std::int32_t step = h == 0 ? 1 : TABLE_SIZE - h;
    for (;;) {
        if (code[h] == EMPTY_SLOT) {
            return h;
        }
        if (prefix[h] == prefix_code && byte[h] == next_byte) {
            return h;
        }
        h -= step;
        if (h < 0) {
            h += TABLE_SIZE;
        }
    }
}

}  // namespace lzw
