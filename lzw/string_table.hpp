// The encoder's dictionary: an open-addressed hash table keyed by
// (prefix code, next byte), allocated once.
#pragma once

#include <cstdint>

namespace lzw {

// A prime above the 65278 entries that codes 258..65535 can name, so at least
// 2499 slots are always empty and every probe sequence ends.
inline constexpr std::int32_t TABLE_SIZE = 67777;

inline constexpr std::int32_t EMPTY_SLOT = -1;

// One slot in 8 bytes, so checking a slot reads a single cache line.
struct Slot {
    std::int32_t code;     // code of the string in the slot, or EMPTY_SLOT
    std::uint16_t prefix;  // code of the string without its last byte (codes are below 65536)
    std::uint8_t byte;     // last byte of the string
};
extern Slot table[TABLE_SIZE];

// One byte per slot, beside the table: EMPTY_TAG for an empty slot, else
// tag_of(prefix, byte) of the string in it. At 96% load a lookup walks about
// eight slots on average; the walk reads these 66 KiB, which stay close to
// the processor, and opens a slot of the 530 KiB table only on an equal tag.
// Only `code` and `tag` are ever cleared: `prefix` and `byte` of an empty
// slot hold stale values that are never looked at.
extern std::uint8_t tag[TABLE_SIZE];
inline constexpr std::uint8_t EMPTY_TAG = 0;

inline std::uint8_t tag_of(std::int32_t prefix_code, std::uint8_t next_byte) {
    const auto mixed = (static_cast<std::uint32_t>(prefix_code) << 8 | next_byte) * 0x9E3779B1u;
    return static_cast<std::uint8_t>(mixed >> 24 | 1);  // never EMPTY_TAG
}

// Marks every slot empty.
void clear_table();

// The slot that holds (prefix_code, next_byte), or the empty slot where that
// pair belongs. prefix_code is below 65536. Returns 0..TABLE_SIZE-1.
inline std::int32_t find_slot(std::int32_t prefix_code, std::uint8_t next_byte) {
    const std::uint8_t wanted = tag_of(prefix_code, next_byte);
    std::int32_t h = (static_cast<std::int32_t>(next_byte) << 8) ^ prefix_code;  // 0..65535
    const std::int32_t step = h == 0 ? 1 : TABLE_SIZE - h;
    for (;;) {
        const std::uint8_t t = tag[h];
        if (t == wanted) {
            if (table[h].prefix == prefix_code && table[h].byte == next_byte) {
                return h;
            }
        } else if (t == EMPTY_TAG) {
            return h;
        }
        h -= step;
        h += h < 0 ? TABLE_SIZE : 0;
    }
}

}  // namespace lzw
