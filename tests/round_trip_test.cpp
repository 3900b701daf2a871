// Everything the encoder writes decodes back to its input, and the stream's
// widths, CLEAR_CODEs and dots are exactly where the encoder's rules put them.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "decoder.hpp"
#include "lzw/code_stream.hpp"
#include "support.hpp"

namespace {

struct RoundTrip {
    std::string name;
    Bytes input;
    int end_width = 0;    // width of END_CODE, when the case pins it
    int final_width = 0;  // width of the last data code, when pinned
    int clears = 0;       // at least this many CLEAR_CODEs
    std::uint64_t closing_bits = 0;  // stream bits after the last data code, when pinned
};

std::size_t count(const std::string& text, char c) { return static_cast<std::size_t>(std::ranges::count(text, c)); }

std::vector<RoundTrip> matrix() {
    const Bytes pairs = distinct_pairs();
    const auto prefix = [&](std::size_t n) { return Bytes(pairs.begin(), pairs.begin() + static_cast<long>(n)); };
    std::vector<RoundTrip> rows = {
        {"empty", {}, 11, 0, 0},
        {"one_byte", {0xFF}, 11, 11, 0},
        {"every_byte_value_once", prefix(256), 11, 11, 0},
        {"long_run_of_one_byte", Bytes(1 << 20, 'x'), 0, 0, 0},
        {"text", text_like(400000, 1), 0, 0, 0},
        // One dictionary over more output than the decoder keeps behind it:
        // strings last seen long ago are rebuilt from their entries.
        {"strings_older_than_the_decoders_window", text_like(12 << 20, 12), 0, 0, 0},
        {"random_clears_after_each_fill", random_bytes(700000, 2), 0, 0, 4},
        // Counters restart with the fresh dictionary: the text after the noise
        // fills it again and keeps it.
        {"random_then_text", random_bytes(150000, 7) + text_like(1000000, 8), 0, 0, 1},
        {"text_then_random_then_text", text_like(300000, 3) + random_bytes(200000, 4) + text_like(300000, 5), 0, 0, 2},
        {"all_pairs_then_repeat", pairs + pairs + text_like(50000, 6), 0, 0, 1},
        // Ends one byte after the CLEAR_CODE that follows the entry 65535: its
        // last bits are as few as those of a 17-bit closing.
        {"ends_one_byte_after_clear", prefix(65279), 11, 11, 1},
        // Two fills of literals, the first ended by a CLEAR_CODE, the second
        // by the input with one 16-bit code left, so the closing codes are 17
        // bits wide. Each fill's 65278 codes take 982250 bits (1790 at 11,
        // then 2048 at 12 up to 32768 at 16); twice that, the CLEAR_CODE's 16
        // and the closing codes' 68 make whole bytes, so no closing bit is
        // dropped: the reader must take exactly 68 bits left as a 17-bit close.
        {"closing_codes_at_17_bits_with_68_bits_left", prefix(65278) + prefix(65278), 17, 16, 1, 68},
    };
    // With one literal per byte, a prefix of n bytes makes n - 1 entries and
    // ends with next_code = 257 + n: equal to max_code for n = 2^w - 258.
    for (int width = 11; width <= 16; ++width) {
        const std::size_t n = (std::size_t{1} << width) - 258;
        const std::string w = std::to_string(width);
        rows.push_back({"one_code_left_at_" + w, prefix(n), width + 1, width, 0});
        rows.push_back({"two_codes_left_at_" + w, prefix(n - 1), width, width, 0});
        if (width < 16) {
            rows.push_back({"just_widened_to_" + std::to_string(width + 1), prefix(n + 1), width + 1, width + 1, 0});
        }
    }
    return rows;
}

TEST(RoundTrip, DecodesBackWithWidthsClearsAndDotsWhereTheRulesPutThem) {
    for (const auto& row : matrix()) {
        SCOPED_TRACE(row.name);
        const Encoded encoded = encode(row.input);
        const Decoded decoded = decode_stream(encoded.stream);
        ASSERT_EQ(decoded.error, "");
        ASSERT_TRUE(decoded.bytes == row.input);

        std::size_t dots = 0;
        EXPECT_EQ(check_ratio_rule(decoded, dots), "");
        EXPECT_EQ(count(encoded.console, '.'), dots);

        const auto& codes = decoded.codes;
        if (row.end_width != 0) {
            EXPECT_EQ(codes.back().width, row.end_width);
        }
        if (row.final_width != 0) {
            EXPECT_EQ(codes[codes.size() - 2].width, row.final_width);
        }
        const auto clears = std::ranges::count(codes, lzw::CLEAR_CODE, &TracedCode::code);
        EXPECT_GE(clears, row.clears);
        if (row.closing_bits != 0) {
            EXPECT_EQ(8 * encoded.stream.size() - codes[codes.size() - 2].end_bit, row.closing_bits);
        }
    }
}

TEST(RoundTrip, WidthScheduleAndFirstRatioCheck) {
    const Decoded decoded = decode_stream(encode(distinct_pairs()).stream);
    ASSERT_EQ(decoded.error, "");
    const auto& codes = decoded.codes;
    // Counting codes from 0, the first one written at 12..16 bits.
    const std::vector<std::size_t> first_at = {1790, 3838, 7934, 16126, 32510};
    for (int width = 12; width <= 16; ++width) {
        SCOPED_TRACE(width);
        const std::size_t first = first_at[static_cast<std::size_t>(width - 12)];
        EXPECT_EQ(codes[first - 1].width, width - 1);
        EXPECT_EQ(codes[first].width, width);
    }
    // Literal bytes do not pay: the first check, right after the code that
    // makes entry 65535 (code 65277), starts a fresh dictionary at 11 bits.
    ASSERT_GT(codes.size(), 65280u);
    EXPECT_EQ(codes[65278].code, lzw::CLEAR_CODE);
    EXPECT_EQ(codes[65278].width, 16);
    EXPECT_EQ(codes[65279].width, 11);
    EXPECT_EQ(std::ranges::count(codes, lzw::CLEAR_CODE, &TracedCode::code), 1);
}

TEST(RoundTrip, ReaderTakesBackWhatTheWriterStored) {
    for (const auto& widths : std::vector<std::vector<int>>{{11}, {11, 12, 13, 14, 15, 16}, {16, 11}, {16, 17}}) {
        std::mt19937 generator(static_cast<std::uint32_t>(widths.size()));
        std::vector<std::pair<std::uint32_t, int>> codes;
        for (int i = 0; i < 3000; ++i) {
            const int width = widths[static_cast<std::size_t>(i) * widths.size() / 3000];
            codes.emplace_back(generator() & ((1u << width) - 1), width);
        }
        // Filler after the last code, as the encoder writes, so that the
        // packer keeps its last bits and the reader's read-ahead stays in the stream.
        auto filled = codes;
        filled.insert(filled.end(), 4, {0, 17});
        const Bytes stream = pack(filled);
        std::FILE* file = ::fmemopen(const_cast<std::uint8_t*>(stream.data()), stream.size(), "rb");
        ASSERT_NE(file, nullptr);
        lzw::start_reader();
        for (const auto& [code, width] : codes) {
            lzw::code_width = width;
            ASSERT_EQ(lzw::read_code(file), code);
        }
        std::fclose(file);
    }
}

}  // namespace
