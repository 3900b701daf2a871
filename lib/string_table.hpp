// The encoder's dictionary: an open-addressed hash table keyed by
// (prefix code, next byte), inside the encoder's tables block.
//
// Which string gets which code is fixed by the stream; how the encoder finds
// them is not. The table has twice the slots the dictionary can fill, so a
// lookup rarely reads past its first slot and an absent pair soon meets an
// empty one. A slot's key is the whole pair, so each probe is one compare.
// Keys and codes together take 768 KiB, which with the output stays within a
// core's second-level cache.
#pragma once

#include <cstdint>
#include <cstring>

namespace mornak {

inline constexpr int TABLE_BITS = 17;
// At most 65278 entries (codes 258..65535): the table is never more than half full.
inline constexpr std::uint32_t TABLE_SIZE = 1u << TABLE_BITS;

// EMPTY_KEY (no pair has it) marks an empty slot; the code of an empty slot
// is stale and never read.
inline constexpr std::uint32_t EMPTY_KEY = 0xFFFFFFFFu;

// prefix_code * 256 + next_byte; below 2^24 since codes are below 65536.
inline std::uint32_t pair_key(std::uint32_t prefix_code, std::uint8_t next_byte) {
    return prefix_code << 8 | next_byte;
}

// Two parallel arrays, so that the walk reads 512 KiB of keys and only the
// slot it ends on reads the 256 KiB of codes.
struct StringTable {
    std::uint32_t keys[TABLE_SIZE];   // pair_key of the string in the slot, or EMPTY_KEY
    std::uint16_t codes[TABLE_SIZE];  // code of the string in the slot
};

// Marks every slot empty: one pass over 512 KiB, once per dictionary.
inline void clear_table(StringTable& table) { std::memset(table.keys, 0xFF, sizeof table.keys); }

// The slot that holds (prefix_code, next_byte), or the empty slot where that
// pair belongs. prefix_code is below 65536. Returns 0..TABLE_SIZE-1.
inline std::uint32_t find_slot(const StringTable& table, std::uint32_t prefix_code, std::uint8_t next_byte) {
    const std::uint32_t key = pair_key(prefix_code, next_byte);
    // First slot: a shift and an exclusive or, as each lookup waits for the
    // one before. Then an odd step of its own per key, so that keys sharing a
    // first slot part ways at once and the walk can reach every slot.
    std::uint32_t h = prefix_code ^ static_cast<std::uint32_t>(next_byte) << 9;
    std::uint32_t k = table.keys[h];
    if (k == key || k == EMPTY_KEY) {
        return h;
    }
    const std::uint32_t step = (key * 0x9E3779B1u) >> (32 - TABLE_BITS) | 1;
    for (;;) {
        h = (h + step) & (TABLE_SIZE - 1);
        k = table.keys[h];
        if (k == key || k == EMPTY_KEY) {
            return h;
        }
    }
}

// Puts the string (prefix_code, next_byte) with number `code` into the empty
// slot find_slot gave for it.
inline void add_entry(StringTable& table, std::uint32_t slot, std::uint32_t code, std::uint32_t prefix_code,
                      std::uint8_t next_byte) {
    table.keys[slot] = pair_key(prefix_code, next_byte);
    table.codes[slot] = static_cast<std::uint16_t>(code);
}

}  // namespace mornak
