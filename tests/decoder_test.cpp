// The decoder in this process, where the tests choose what its source
// delivers.
#include <gtest/gtest.h>

#include <string>

#include "decoder.hpp"
#include "support.hpp"

namespace {

// The decoder is told a longer stream than arrives, as when a file shrinks
// while it is read: the fault is placed where the bytes stopped, never at
// the end the stream was said to have.
struct ShortStream {
    std::string name;
    Bytes arrives;
    std::uint64_t told;  // stream bytes the decoder is told
    std::string error;
};

TEST(Decoder, StreamShorterThanToldFailsWhereItsBytesStop) {
    // 97, 98, 99 and END_CODE at 11 bits, END_CODE ending at bit 44, then
    // the zero codes: 9 bytes.
    const Bytes abc = encode(bytes_of("abc")).stream;
    const Bytes text = encode(text_like(1 << 20, 51)).stream;
    const auto cut = [](const Bytes& stream, std::size_t bytes) {
        return Bytes(stream.begin(), stream.begin() + static_cast<long>(bytes));
    };
    const std::size_t half = text.size() / 2;
    const std::vector<ShortStream> rows = {
        {"nothing_arrives", {}, abc.size(), "stream ends without END_CODE at bit 0"},
        {"cut_inside_the_third_code", cut(abc, 4), abc.size(), "stream ends without END_CODE at bit 32"},
        {"cut_inside_the_closing_codes", cut(abc, 8), abc.size(), "closing filler too short at bit 64"},
        // Told a size past the closing codes: what it says follows them never
        // arrived, and the bytes stop inside them.
        {"cut_inside_the_closing_codes_told_more_than_they_fill", cut(abc, 6), abc.size() + 11,
         "closing filler too short at bit 48"},
        // Told a size inside the closing codes, and the bytes stop before it.
        {"cut_inside_the_closing_codes_told_less_than_they_fill", cut(abc, 6), abc.size() - 2,
         "closing filler too short at bit 48"},
        // Cut where the decoder runs its fast loop.
        {"cut_halfway_through_a_large_stream", cut(text, half), text.size(),
         "stream ends without END_CODE at bit " + std::to_string(8 * half)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(decode_stream(row.arrives, ANY_LENGTH, row.told).error, row.error);
    }
}

}  // namespace
