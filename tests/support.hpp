// Inputs and helpers shared by the tests.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

Bytes bytes_of(std::string_view text);

// The code stream the library writes for `input`, without the header.
Bytes encode(std::span<const std::uint8_t> input);

// The whole .bk file the library writes for `input`.
Bytes compress(std::span<const std::uint8_t> input);

// Packs (code, width) pairs most significant bit first, dropping a last
// partial byte: an independent statement of the stream layout.
Bytes pack(const std::vector<std::pair<std::uint32_t, int>>& codes);

// One literal code per byte at the width a reader expects after that many
// codes from a fresh dictionary: every code but the first makes an entry,
// and codes widen once the next entry's number reaches 2^width - 1.
std::vector<std::pair<std::uint32_t, int>> literal_codes(std::span<const std::uint8_t> bytes);

// 65537 bytes in which no two adjacent bytes repeat an earlier adjacent pair,
// so every prefix encodes as one literal code per byte and its length alone
// decides how many dictionary entries are made.
Bytes distinct_pairs();

// A .bk file: "book", `length`, then `codes` and `closing`, all at 11 bits.
Bytes bk_at_11(std::uint32_t length, std::vector<std::uint32_t> codes,
               const std::vector<std::uint32_t>& closing = {257, 0, 0, 0});

Bytes random_bytes(std::size_t size, std::uint32_t seed);

// Word-level English-like text with punctuation and line breaks.
Bytes text_like(std::size_t size, std::uint32_t seed);

Bytes operator+(Bytes a, const Bytes& b);
