// Everything the encoder writes decodes back to its input, and the stream's
// widths and CLEAR_CODEs are exactly where the encoder's rules put them.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "decoder_trace.hpp"
#include "format.hpp"
#include "round_trip_rows.hpp"
#include "support.hpp"

namespace {

TEST(RoundTrip, DecodesBackWithWidthsAndClearsWhereTheRulesPutThem) {
    for (const auto& row : round_trip_rows()) {
        SCOPED_TRACE(row.name);
        const Bytes stream = encode(row.input);
        const Decoded decoded = decode_stream(stream);
        ASSERT_EQ(decoded.error, "");
        ASSERT_TRUE(decoded.bytes == row.input);

        std::size_t dots = 0;
        EXPECT_EQ(check_ratio_rule(decoded, dots), "");

        const auto& codes = decoded.codes;
        if (row.end_width != 0) {
            EXPECT_EQ(codes.back().width, row.end_width);
        }
        if (row.final_width != 0) {
            EXPECT_EQ(codes[codes.size() - 2].width, row.final_width);
        }
        const auto clears = std::ranges::count(codes, mornak::CLEAR_CODE, &TracedCode::code);
        EXPECT_GE(clears, row.clears);
        if (row.closing_bits != 0) {
            EXPECT_EQ(8 * stream.size() - codes[codes.size() - 2].end_bit, row.closing_bits);
        }
    }
}

TEST(RoundTrip, WidthScheduleAndFirstRatioCheck) {
    const Decoded decoded = decode_stream(encode(distinct_pairs()));
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
    EXPECT_EQ(codes[65278].code, mornak::CLEAR_CODE);
    EXPECT_EQ(codes[65278].width, 16);
    EXPECT_EQ(codes[65279].width, 11);
    EXPECT_EQ(std::ranges::count(codes, mornak::CLEAR_CODE, &TracedCode::code), 1);
}

}  // namespace
