// Byte-exact answers: what the encoder writes for small inputs, and how the
// writer packs codes whatever the widths.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>

#include "code_writer.hpp"
#include "round_trip_rows.hpp"
#include "support.hpp"

namespace {

// Writes `codes` at their widths into a buffer and returns the bytes stored.
Bytes write_codes(const std::vector<std::pair<std::uint32_t, int>>& codes) {
    Bytes area(codes.size() * 3 + 8);  // the writer stores eight bytes at a time
    mornak::CodeWriter writer{0, 0, area.data()};
    for (const auto& [code, width] : codes) {
        mornak::write_code(writer, code, width);
    }
    area.resize(static_cast<std::size_t>(writer.position - area.data()));
    return area;
}

struct EncoderCase {
    const char* name;
    Bytes input;
    std::vector<std::uint32_t> codes;  // all at 11 bits
};

TEST(KnownAnswers, EncoderOutputForSmallInputs) {
    const std::vector<EncoderCase> cases = {
        {"empty_input_holds_only_the_closing_codes", {}, {257, 0, 0, 0}},
        {"single_byte", bytes_of("a"), {97, 257, 0, 0, 0}},
        {"abc", bytes_of("abc"), {97, 98, 99, 257, 0, 0, 0}},
        {"tobeornot",
         bytes_of("TOBEORNOTTOBEORTOBEORNOT"),
         {84, 79, 66, 69, 79, 82, 78, 79, 84, 258, 260, 262, 267, 261, 263, 265, 257, 0, 0, 0}},
        {"sixty_a_reuses_the_entry_being_made",
         Bytes(60, 'a'),
         {97, 258, 259, 260, 261, 262, 263, 264, 265, 266, 261, 257, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::pair<std::uint32_t, int>> at_11;
        for (const auto code : c.codes) {
            at_11.emplace_back(code, 11);
        }
        EXPECT_EQ(encode(c.input), pack(at_11));
    }
}

struct WriterCase {
    const char* name;
    std::vector<std::pair<std::uint32_t, int>> codes;
    Bytes stored;
};

TEST(KnownAnswers, WriterPacksMostSignificantBitFirst) {
    const std::vector<WriterCase> cases = {
        {"abc_stream",
         {{97, 11}, {98, 11}, {99, 11}, {257, 11}, {0, 11}, {0, 11}, {0, 11}},
         {0x0C, 0x21, 0x88, 0x31, 0x90, 0x10, 0x00, 0x00, 0x00}},
        {"single_byte_stream", {{97, 11}, {257, 11}, {0, 11}, {0, 11}, {0, 11}}, {0x0C, 0x24, 0x04, 0x00, 0x00, 0x00}},
        {"width_change_mid_byte_continues_in_the_next_bit", {{1, 11}, {4095, 12}, {0, 11}}, {0x00, 0x3F, 0xFE, 0x00}},
        {"seventeen_bit_closing_codes", {{257, 17}, {0, 17}}, {0x00, 0x80, 0x80, 0x00}},
        {"clear_code_is_not_byte_aligned", {{5, 16}, {256, 16}, {7, 11}, {0, 11}}, {0x00, 0x05, 0x01, 0x00, 0x00, 0xE0}},
        {"partial_byte_is_never_stored", {{2047, 11}}, {0xFF}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes out = write_codes(c.codes);
        EXPECT_EQ(out, c.stored);
        EXPECT_EQ(out, pack(c.codes));
    }
}

// The stream of every round-trip row, recorded when it was first written:
// the encoder's output never changes, on any machine (the rows come from
// fixed seeds). A sum: FNV-1a, 64 bits, of the whole .bk file.
std::uint64_t sum_of(const Bytes& bytes) {
    std::uint64_t sum = 0xCBF29CE484222325u;
    for (const std::uint8_t b : bytes) {
        sum = (sum ^ b) * 0x100000001B3u;
    }
    return sum;
}

TEST(KnownAnswers, EveryRowsStreamIsTheOneRecorded) {
    const std::map<std::string, std::pair<std::size_t, std::uint64_t>> recorded = {
        {"empty", {13, 0xD18D113BFCB5F248}},
        {"one_byte", {14, 0xE3ABA972E1081B36}},
        {"every_byte_value_once", {365, 0x0A527B663B1B7DEC}},
        {"long_run_of_one_byte", {2004, 0xE9157239D15DE1C8}},
        {"text", {127143, 0xB3B3F2B583BD0C8F}},
        {"strings_older_than_the_decoders_window", {3655993, 0xFCF35EB94CDEB912}},
        {"random_clears_after_each_fill", {964410, 0x18B07F6839EF5F86}},
        {"random_then_text", {572052, 0x0294073F114A7851}},
        {"text_then_random_then_text", {478481, 0x4FF8626C066EC51A}},
        {"all_pairs_then_repeat", {265001, 0xC3FB625BECB54087}},
        {"ends_one_byte_after_clear", {122798, 0x1E5D297C0832A8CF}},
        {"closing_codes_at_17_bits_with_68_bits_left", {245581, 0x0EBC4800FD9C7B37}},
        {"seventeen_bits_that_look_like_the_end", {245882, 0xCAAC7602EC93ACB5}},
        {"ratio_in_32_bits_past_42_9_mb_of_stream", {44503741, 0xCF856E9687FB5F37}},
        {"one_code_left_at_11", {2475, 0x6F10C0EB765185CD}},
        {"two_codes_left_at_11", {2473, 0x0C79E4AAF2857D11}},
        {"just_widened_to_12", {2476, 0xE75D76680D61096D}},
        {"one_code_left_at_12", {5547, 0xBEEFC91D1A2EC6B4}},
        {"two_codes_left_at_12", {5545, 0x86B771E4661699A7}},
        {"just_widened_to_13", {5549, 0xFDA01F5BDAC8B2ED}},
        {"one_code_left_at_13", {12204, 0x9F22730EC05826EE}},
        {"two_codes_left_at_13", {12202, 0xE269684E0B567187}},
        {"just_widened_to_14", {12206, 0xABEDD30A94293808}},
        {"one_code_left_at_14", {26540, 0x17DA1E65537D492D}},
        {"two_codes_left_at_14", {26538, 0xD286CDF1E9A562ED}},
        {"just_widened_to_15", {26542, 0xA791A24D031052E9}},
        {"one_code_left_at_15", {57261, 0xB15FE630924C8267}},
        {"two_codes_left_at_15", {57258, 0x128841D8A8C26DEB}},
        {"just_widened_to_16", {57263, 0x76B994344CE040A7}},
        {"one_code_left_at_16", {122797, 0x4C77416F7B1640E8}},
        {"two_codes_left_at_16", {122795, 0x6CEA26CF66C32971}},
    };
    EXPECT_EQ(recorded.size(), round_trip_rows().size()) << "a sum recorded for a row that is gone";
    for (const RoundTrip& row : round_trip_rows()) {
        SCOPED_TRACE(row.name);
        const Bytes bk = compress(row.input);
        char sum[24];
        std::snprintf(sum, sizeof sum, "0x%016llX", static_cast<unsigned long long>(sum_of(bk)));
        const auto it = recorded.find(row.name);
        if (it == recorded.end()) {
            ADD_FAILURE() << "not recorded: {\"" << row.name << "\", {" << bk.size() << ", " << sum << "}},";
            continue;
        }
        EXPECT_EQ(bk.size(), it->second.first);
        EXPECT_EQ(sum_of(bk), it->second.second) << "now " << sum;
    }
}

}  // namespace
