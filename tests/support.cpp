#include "support.hpp"

#include <array>
#include <cstdio>
#include <memory>
#include <random>
#include <stdexcept>

#include "mornak.h"
#include "programs/compress_file.hpp"

namespace {

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

File temporary_file() {
    File file(std::tmpfile(), std::fclose);
    if (!file) {
        throw std::runtime_error("tmpfile failed");
    }
    return file;
}

}  // namespace

Bytes bytes_of(std::string_view text) { return {text.begin(), text.end()}; }

Encoded encode(std::span<const std::uint8_t> input) {
    const File in = temporary_file();
    const File console = temporary_file();
    if (!input.empty()) {
        std::fwrite(input.data(), 1, input.size(), in.get());
    }
    std::rewind(in.get());

    static Bytes stream;
    stream.clear();
    static mornak_encoder* const encoder = mornak_encoder_create();
    const auto conversion = converter::compress_file(
        encoder, in.get(), static_cast<std::int64_t>(input.size()),
        [](std::span<const std::uint8_t> bytes) {
            stream.insert(stream.end(), bytes.begin(), bytes.end());
            return 0;
        },
        console.get());
    if (conversion.outcome != converter::Conversion::converted) {
        throw std::runtime_error("the conversion failed");
    }
    std::string text(static_cast<std::size_t>(std::ftell(console.get())), '\0');
    std::rewind(console.get());
    text.resize(std::fread(text.data(), 1, text.size(), console.get()));
    // The stream without the header, which the tests check apart.
    return {Bytes(stream.begin() + MORNAK_HEADER_BYTES, stream.end()), text};
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
        // Skewed towards the first words, as word frequencies are.
        out += vocabulary[generator() % (1 + generator() % vocabulary.size())];
        out += joints[generator() % joints.size()];
    }
    out.resize(size);
    return bytes_of(out);
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
