// The encoder's dictionary: an open-addressed hash table keyed by
// (prefix code, next byte), allocated once.
#pragma once

#include <cstdint>

namespace lzw {

// A prime above the 65278 entries that codes 258..65535 can name, so at least
// 2499 slots are always empty and every probe sequence ends.
inline constexpr std::int32_t TABLE_SIZE = 67777;

inline constexpr std::int32_t EMPTY_SLOT = -1;

// One slot in 8 bytes, so checking a slot reads a single cache line. Of a
// slot only `code` is ever cleared: `prefix` and `byte` of an empty slot hold
// stale values that are never looked at.
struct Slot {
    std::int32_t code;     // code of the string in the slot, or EMPTY_SLOT
    std::uint16_t prefix;  // code of the string without its last byte (codes are below 65536)
    std::uint8_t byte;     // last byte of the string
};
extern Slot table[TABLE_SIZE];

// Two summaries kept beside the table, because at 96% load a probe sequence
// is long: on a text about 7.6 slots per lookup, and a pair that is absent
// walks to an empty slot, some 35 slots.
//
// tag: one byte per slot, EMPTY_TAG for an empty slot, else tag_of(prefix,
// byte) of its string. A walk reads these 66 KiB, which stay close to the
// processor, and opens a slot of the 530 KiB table only on an equal tag.
extern std::uint8_t tag[TABLE_SIZE];
inline constexpr std::uint8_t EMPTY_TAG = 0;

inline std::uint8_t tag_of(std::int32_t prefix_code, std::uint8_t next_byte) {
    const auto mixed = (static_cast<std::uint32_t>(prefix_code) << 8 | next_byte) * 0x9E3779B1u;
    return static_cast<std::uint8_t>(mixed >> 24 | 1);  // never EMPTY_TAG
}

// seen: one bit per hash of a pair (PAIR_BITS of them), set for every pair in
// the table, so a clear bit proves a pair absent without a walk.
inline constexpr std::uint32_t PAIR_BITS = 1u << 20;
extern std::uint64_t seen[PAIR_BITS / 64];

inline std::uint32_t pair_bit(std::int32_t prefix_code, std::uint8_t next_byte) {
    return ((static_cast<std::uint32_t>(prefix_code) << 8 | next_byte) * 0x85EBCA6Bu) >> 12;  // 0..PAIR_BITS-1
}

// Marks every slot empty: `code`, `tag` and `seen` back to their empty values.
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

// table[find_slot(prefix_code, next_byte)].code, for when no entry is to be
// made: an absent pair costs the first probe and one bit, not a walk.
inline std::int32_t find_code(std::int32_t prefix_code, std::uint8_t next_byte) {
    const std::int32_t first = (static_cast<std::int32_t>(next_byte) << 8) ^ prefix_code;
    const std::uint8_t t = tag[first];
    if (t == tag_of(prefix_code, next_byte) && table[first].prefix == prefix_code && table[first].byte == next_byte) {
        return table[first].code;
    }
    const std::uint32_t bit = pair_bit(prefix_code, next_byte);
    if (t == EMPTY_TAG || (seen[bit / 64] >> (bit % 64) & 1u) == 0) {
        return EMPTY_SLOT;
    }
    return table[find_slot(prefix_code, next_byte)].code;
}

// Puts the string (prefix_code, next_byte) with number `code` into the empty
// slot find_slot gave for it.
inline void add_entry(std::int32_t slot, std::int32_t code, std::int32_t prefix_code, std::uint8_t next_byte) {
    table[slot] = {code, static_cast<std::uint16_t>(prefix_code), next_byte};
    tag[slot] = tag_of(prefix_code, next_byte);
    const std::uint32_t bit = pair_bit(prefix_code, next_byte);
    seen[bit / 64] |= std::uint64_t{1} << (bit % 64);
}

}  // namespace lzw
