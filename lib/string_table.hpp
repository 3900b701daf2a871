// The encoder's dictionary, inside the encoder's tables block.
//
// Which string gets which code is fixed by the stream; how the encoder finds
// them is not. Every lookup waits for the one before (the code it finds is
// the next lookup's prefix), so what counts is one load per input byte, from
// as little memory as possible:
//
// - A string of two bytes (a byte code as prefix) is found in `pairs`, a
//   direct 256 x 256 table: no hashing, no probing. Every string starts there.
// - Longer strings are in `slots`, an open-addressed table of 2^17 four-byte
//   slots, never more than half full. A slot holds the string's code, its last
//   byte, and whether it sits in its first slot. The first slot of
//   (prefix, byte) is prefix ^ byte_hash(byte): the byte's hash depends on
//   the input alone, off the chain of loads. An entry found in its first slot
//   with the right byte is the right one, since the slot and the byte give
//   back the prefix; an entry further along is checked against `prefix_of`.
//
// The hot part, slots and pairs, takes 640 KiB.
#pragma once

#include <cstdint>
#include <cstring>

#include "format.hpp"

namespace mornak {

inline constexpr int TABLE_BITS = 17;
// At most 65278 entries (codes 258..65535): the table is never more than half full.
inline constexpr std::uint32_t TABLE_SIZE = 1u << TABLE_BITS;

// A slot: the entry's code, and its tag: the string's last byte, with
// IN_FIRST_SLOT set when the slot is the entry's first. The code is loaded
// as it is, so that the next lookup waits for no mask. A code of 0 marks an
// empty slot (no entry has code 0), whose tag is 0.
inline constexpr std::uint16_t IN_FIRST_SLOT = 1u << 8;

struct Slot {
    std::uint16_t code;
    std::uint16_t tag;
};

struct StringTable {
    Slot slots[TABLE_SIZE];              // strings of three bytes or more
    std::uint16_t pairs[256 * 256];      // code of the string (prefix byte, next byte), or 0
    std::uint16_t prefix_of[CODE_LIMIT]; // the prefix of each entry in `slots`, by code
};

// Empties the dictionary: one pass over the slots and the pairs, once per
// dictionary. `prefix_of` is read only for codes the slots hold.
inline void clear_table(StringTable& table) {
    std::memset(table.slots, 0, sizeof table.slots);
    std::memset(table.pairs, 0, sizeof table.pairs);
}

// Spreads the byte over all 17 bits of a slot number: with text's bytes
// below 128, a byte's own bits would leave half of the table unused.
inline std::uint32_t byte_hash(std::uint8_t byte) {
    return (static_cast<std::uint32_t>(byte) * 0x9E3779B1u) >> (32 - TABLE_BITS);
}

// The first slot of (prefix_code, byte); prefix_code is below 65536.
inline std::uint32_t first_slot(std::uint32_t prefix_code, std::uint8_t byte) {
    return prefix_code ^ byte_hash(byte);
}

// The tag of an entry for `byte` in its first slot.
inline std::uint16_t first_slot_tag(std::uint8_t byte) { return static_cast<std::uint16_t>(IN_FIRST_SLOT | byte); }

// The slot that holds (prefix_code, byte), or the empty slot where that pair
// belongs, for a prefix_code of 256 or more. Returns 0..TABLE_SIZE-1.
inline std::uint32_t find_slot(const StringTable& table, std::uint32_t prefix_code, std::uint8_t byte) {
    std::uint32_t h = first_slot(prefix_code, byte);
    if (table.slots[h].tag == first_slot_tag(byte) || table.slots[h].code == 0) {
        return h;
    }
    // Further along: an odd step of the pair's own, so that pairs sharing a
    // first slot part ways at once and the walk can reach every slot. An
    // entry here is ours when its byte is and the prefix it was made with is.
    const std::uint32_t step = ((prefix_code << 8 | byte) * 0x9E3779B1u) >> (32 - TABLE_BITS) | 1;
    for (;;) {
        h = (h + step) & (TABLE_SIZE - 1);
        const Slot s = table.slots[h];
        if (s.code == 0 || (s.tag == byte && table.prefix_of[s.code] == prefix_code)) {
            return h;
        }
    }
}

// Puts the string (prefix_code, byte), prefix_code 256 or more, with number
// `code` into the empty slot find_slot gave for it.
inline void add_entry(StringTable& table, std::uint32_t slot, std::uint32_t code, std::uint32_t prefix_code,
                      std::uint8_t byte) {
    const bool first = slot == first_slot(prefix_code, byte);
    table.slots[slot] = {static_cast<std::uint16_t>(code), first ? first_slot_tag(byte) : std::uint16_t{byte}};
    table.prefix_of[code] = static_cast<std::uint16_t>(prefix_code);
}

}  // namespace mornak
