// The encoder's dictionary on its own: every entry is found again, at its
// fullest too, and an entry away from its first slot is taken only after its
// prefix is checked.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>

#include "string_table.hpp"

namespace {

using mornak::StringTable;

std::unique_ptr<StringTable> empty_table() {
    auto table = std::make_unique<StringTable>();
    mornak::clear_table(*table);
    return table;
}

// Adds (prefix, byte) with `code` where find_slot puts it; the slot.
std::uint32_t add(StringTable& table, std::uint32_t prefix, std::uint8_t byte, std::uint32_t code) {
    const std::uint32_t slot = mornak::find_slot(table, prefix, byte);
    EXPECT_EQ(table.slots[slot].code, 0) << "(" << prefix << ", " << int{byte} << ") was there already";
    mornak::add_entry(table, slot, code, prefix, byte);
    return slot;
}

TEST(StringTable, EveryEntryIsFoundAgainWithTheDictionaryFull) {
    // As many entries as the dictionary holds, all with prefixes of 256 and
    // more: the slots at their fullest, half of them taken.
    const auto table = empty_table();
    std::mt19937 generator(7);
    std::set<std::pair<std::uint32_t, std::uint8_t>> keys;
    while (keys.size() < mornak::CODE_LIMIT - mornak::FIRST_FREE_CODE) {
        keys.insert({static_cast<std::uint32_t>(256 + generator() % (mornak::CODE_LIMIT - 256)), static_cast<std::uint8_t>(generator())});
    }
    std::vector<std::uint32_t> slot_of;
    std::uint32_t code = mornak::FIRST_FREE_CODE;
    int away_from_first = 0;
    for (const auto& [prefix, byte] : keys) {
        slot_of.push_back(add(*table, prefix, byte, code++));
        away_from_first += slot_of.back() != mornak::first_slot(prefix, byte);
    }
    EXPECT_GT(away_from_first, 1000);  // enough of them to walk the probes
    std::size_t k = 0;
    code = mornak::FIRST_FREE_CODE;
    for (const auto& [prefix, byte] : keys) {
        const std::uint32_t slot = mornak::find_slot(*table, prefix, byte);
        ASSERT_EQ(slot, slot_of[k++]);
        ASSERT_EQ(table->slots[slot].code, code++);
    }
    // Pairs never added meet an empty slot.
    for (int i = 0; i < 10000; ++i) {
        const auto prefix = static_cast<std::uint32_t>(256 + generator() % (mornak::CODE_LIMIT - 256));
        const auto byte = static_cast<std::uint8_t>(generator());
        if (!keys.contains({prefix, byte})) {
            ASSERT_EQ(table->slots[mornak::find_slot(*table, prefix, byte)].code, 0);
        }
    }
}

TEST(StringTable, AnEntryAwayFromItsFirstSlotIsTakenOnlyWithItsPrefix) {
    // (a, b) finds its first slot taken by another pair, and the next slot of
    // its walk holds an entry with the same last byte but another prefix:
    // that one is passed by, and (a, b) belongs in the empty slot after it.
    const auto table = empty_table();
    const std::uint32_t a = 1000;
    const std::uint8_t b = 'x';
    const std::uint32_t first = mornak::first_slot(a, b);
    // Another pair whose first slot is the same: a byte whose hash lies in
    // the same half of the table, and the prefix that makes up the rest.
    std::uint8_t other_byte = b + 1;
    while ((first ^ mornak::byte_hash(other_byte)) >= mornak::CODE_LIMIT ||
           (first ^ mornak::byte_hash(other_byte)) < 256) {
        ++other_byte;
    }
    const std::uint32_t other_prefix = first ^ mornak::byte_hash(other_byte);
    ASSERT_EQ(add(*table, other_prefix, other_byte, 300), first);
    // Where the walk of (a, b) goes next, an entry for byte b of prefix 2000.
    const std::uint32_t walked = mornak::find_slot(*table, a, b);
    ASSERT_NE(walked, first);
    mornak::add_entry(*table, walked, 301, 2000, b);
    const std::uint32_t slot = mornak::find_slot(*table, a, b);
    EXPECT_NE(slot, walked) << "taken for (a, b) though its prefix is 2000";
    EXPECT_EQ(table->slots[slot].code, 0);
    // With its own prefix, that entry is found where it is.
    mornak::add_entry(*table, slot, 302, a, b);
    EXPECT_EQ(mornak::find_slot(*table, a, b), slot);
}

TEST(StringTable, ClearingEmptiesSlotsAndPairs) {
    const auto table = empty_table();
    add(*table, 5000, 'q', 400);
    table->pairs['a' << 8 | 'b'] = 401;
    mornak::clear_table(*table);
    EXPECT_EQ(table->slots[mornak::find_slot(*table, 5000, 'q')].code, 0);
    EXPECT_EQ(table->pairs['a' << 8 | 'b'], 0);
}

}  // namespace
