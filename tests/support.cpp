#include "support.hpp"

#include <array>
#include <random>
#include <stdexcept>

#include "mornak.h"

Bytes bytes_of(std::string_view text) { return {text.begin(), text.end()}; }

Bytes compress(std::span<const std::uint8_t> input) {
    Bytes bk(mornak_compress_bound(input.size()));
    std::size_t size = 0;
    if (mornak_compress(input.data(), input.size(), bk.data(), bk.size(), &size) != MORNAK_OK) {
        throw std::runtime_error("mornak_compress failed");
    }
    bk.resize(size);
    return bk;
}

Bytes encode(std::span<const std::uint8_t> input) {
    const Bytes bk = compress(input);
    return Bytes(bk.begin() + MORNAK_HEADER_BYTES, bk.end());
}

Bytes pack(const std::vector<std::pair<std::uint32_t, int>>& codes) {
    Bytes out;
    int bits = 0;
    for (const auto& [code, width] : codes) {
        for (int i = width - 1; i >= 0; --i, ++bits) {
            if (bits % 8 == 0) {
                out.push_back(0);
            }
            out.back() = static_cast<std::uint8_t>(out.back() | ((code >> i) & 1u) << (7 - bits % 8));
        }
    }
    if (bits % 8 != 0) {
        out.pop_back();
    }
    return out;
}

Bytes bk_at_11(std::uint32_t length, std::vector<std::uint32_t> codes, const std::vector<std::uint32_t>& closing) {
    std::vector<std::pair<std::uint32_t, int>> at_11;
    codes.insert(codes.end(), closing.begin(), closing.end());
    for (const auto c : codes) {
        at_11.emplace_back(c, 11);
    }
    return pack({{0x626F6F6B, 32}, {__builtin_bswap32(length), 32}}) + pack(at_11);
}

std::vector<std::pair<std::uint32_t, int>> literal_codes(std::span<const std::uint8_t> bytes) {
    std::vector<std::pair<std::uint32_t, int>> codes;
    int width = 11;
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        codes.emplace_back(bytes[k], width);
        const std::size_t next_entry = 258 + k;
        if (next_entry >= (std::size_t{1} << width) - 1 && width < 16) {
            ++width;
        }
    }
    return codes;
}

Bytes distinct_pairs() {
    // Greedy: always append the largest byte that makes a pair not used yet.
    std::vector<bool> used(256 * 256);
    Bytes out{0};
    for (;;) {
        int next = 255;
        while (next >= 0 && used[out.back() * 256u + static_cast<unsigned>(next)]) {
            --next;
        }
        if (next < 0) {
            return out;
        }
        used[out.back() * 256u + static_cast<unsigned>(next)] = true;
        out.push_back(static_cast<std::uint8_t>(next));
    }
}

Bytes random_bytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    Bytes out(size);
    for (auto& b : out) {
        b = static_cast<std::uint8_t>(generator() >> 24);
    }
    return out;
}

Bytes text_like(std::size_t size, std::uint32_t seed) {
    static constexpr std::array<std::string_view, 24> syllables = {
        "the", "an", "re", "ing", "ver", "com", "pro", "al", "tion", "er", "in", "ly",
        "sto", "mar", "el", "un", "der", "ri", "ca", "ment", "o", "st", "ble", "for"};
    static constexpr std::array<std::string_view, 8> joints = {" ", " ", " ", " ", ", ", ". ", ".\n", "; "};
    std::mt19937 generator(seed);
    std::vector<std::string> vocabulary(2000);
    for (auto& word : vocabulary) {
        for (auto parts = 1 + generator() % 3; parts-- > 0;) {
            word += syllables[generator() % syllables.size()];
        }
    }
    std::string out;
    while (out.size() < size) {
        // Skewed towards the first words, as word frequencies are. The two
        // draws are made in turn: within one expression their order would be
        // the compiler's choice, and the text would differ between builds.
        const auto pick = generator();
        const auto span = 1 + generator() % vocabulary.size();
        out += vocabulary[pick % span];
        out += joints[generator() % joints.size()];
    }
    out.resize(size);
    return bytes_of(out);
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
