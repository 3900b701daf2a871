// Byte-exact answers: what the encoder writes for small inputs, and how the
// writer packs codes whatever the widths.
#include <gtest/gtest.h>

#include <string>

#include "code_writer.hpp"
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

}  // namespace
