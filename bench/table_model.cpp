// How much of the encoder's time the dictionary's table sets: the same
// dictionary work (longest match, one entry per written code, no entries once
// 65278 are made; no ratio test, no output) done on a whole file in memory with
//   mornak: the encoder's own table (lzw/string_table.hpp), or
//   open:   a 2^17-slot table, multiplicative hash, linear probing,
// which finds the same entries. Prints seconds and a checksum of the codes,
// which must agree, then how long the probe walks of the encoder's table are
// (its find_slot, slot by slot) without the tags and the summary.
//
//   table_model FILE

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "lzw/string_table.hpp"

namespace {

constexpr std::int32_t LAST_CODE = 65535;
constexpr std::int32_t FIRST_FREE = 258;

std::uint64_t with_mornak_table(const std::vector<std::uint8_t>& in) {
    lzw::clear_table();
    std::int32_t next = FIRST_FREE;
    std::int32_t s = in[0];
    std::uint64_t sum = 0;
    for (std::size_t i = 1; i < in.size(); ++i) {
        const std::uint8_t c = in[i];
        if (next <= LAST_CODE) {
            const std::int32_t slot = lzw::find_slot(s, c);
            if (lzw::tag[slot] != lzw::EMPTY_TAG) {
                s = lzw::table[slot].code;
                continue;
            }
            lzw::add_entry(slot, next++, s, c);
        } else if (const std::int32_t found = lzw::find_code(s, c); found != lzw::EMPTY_SLOT) {
            s = found;
            continue;
        }
        sum += static_cast<std::uint64_t>(s);
        s = c;
    }
    return sum + static_cast<std::uint64_t>(s);
}

constexpr std::uint32_t OPEN_SLOTS = 1u << 17;
std::uint64_t open_table[OPEN_SLOTS];  // (pair + 1) << 32 | code; 0 when empty

std::uint64_t with_open_table(const std::vector<std::uint8_t>& in) {
    std::fill(std::begin(open_table), std::end(open_table), 0);
    std::int32_t next = FIRST_FREE;
    std::int32_t s = in[0];
    std::uint64_t sum = 0;
    for (std::size_t i = 1; i < in.size(); ++i) {
        const std::uint8_t c = in[i];
        const std::uint64_t key = (static_cast<std::uint64_t>(s) << 8 | c) + 1;
        std::uint32_t h = static_cast<std::uint32_t>(key * 0x9E3779B1u) >> 15;
        while (open_table[h] != 0 && open_table[h] >> 32 != key) {
            h = (h + 1) & (OPEN_SLOTS - 1);
        }
        if (open_table[h] != 0) {
            s = static_cast<std::int32_t>(open_table[h] & 0xFFFFFFFF);
            continue;
        }
        if (next <= LAST_CODE) {
            open_table[h] = key << 32 | static_cast<std::uint32_t>(next++);
        }
        sum += static_cast<std::uint64_t>(s);
        s = c;
    }
    return sum + static_cast<std::uint64_t>(s);
}

// Slots find_slot examines for (s, c): up to the pair or an empty slot.
int walk_length(std::int32_t s, std::uint8_t c) {
    std::int32_t h = (static_cast<std::int32_t>(c) << 8) ^ s;
    const std::int32_t step = h == 0 ? 1 : lzw::TABLE_SIZE - h;
    int slots = 1;
    while (lzw::tag[h] != lzw::EMPTY_TAG && (lzw::table[h].prefix != s || lzw::table[h].byte != c)) {
        h -= step;
        h += h < 0 ? lzw::TABLE_SIZE : 0;
        ++slots;
    }
    return slots;
}

void walk_lengths(const std::vector<std::uint8_t>& in) {
    lzw::clear_table();
    std::int32_t next = FIRST_FREE;
    std::int32_t s = in[0];
    std::uint64_t lookups = 0, slots = 0, absent = 0, absent_slots = 0;
    for (std::size_t i = 1; i < in.size(); ++i) {
        const std::uint8_t c = in[i];
        const int walked = walk_length(s, c);
        const std::int32_t slot = lzw::find_slot(s, c);
        ++lookups;
        slots += static_cast<std::uint64_t>(walked);
        if (lzw::tag[slot] != lzw::EMPTY_TAG) {
            s = lzw::table[slot].code;
            continue;
        }
        if (next <= LAST_CODE) {
            lzw::add_entry(slot, next++, s, c);
        } else {
            ++absent;
            absent_slots += static_cast<std::uint64_t>(walked);
        }
        s = c;
    }
    std::printf("probe walk: %.2f slots per lookup; %.1f per absent pair once the table is full\n",
                static_cast<double>(slots) / static_cast<double>(lookups),
                absent == 0 ? 0.0 : static_cast<double>(absent_slots) / static_cast<double>(absent));
}

template <typename F>
void time(const char* name, F run, const std::vector<std::uint8_t>& in) {
    const auto start = std::chrono::steady_clock::now();
    const std::uint64_t sum = run(in);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%-7s %.3f s  checksum %llu\n", name, took.count(), static_cast<unsigned long long>(sum));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: table_model FILE\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    const std::vector<std::uint8_t> in{std::istreambuf_iterator<char>(file), {}};
    if (in.empty()) {
        std::fprintf(stderr, "table_model: %s is empty or unreadable\n", argv[1]);
        return 1;
    }
    for (int round = 0; round < 3; ++round) {
        time("mornak", with_mornak_table, in);
        time("open", with_open_table, in);
    }
    walk_lengths(in);
    return 0;
}
