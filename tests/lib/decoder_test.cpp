// The decoder given a stream that stops early, as a file does that shrinks
// while it is read: the fault is placed where the bytes stopped.
#include <gtest/gtest.h>

#include <string>

#include "decoder_trace.hpp"
#include "support.hpp"

namespace {

struct ShortStream {
    std::string name;
    Bytes arrives;
    std::string error;
};

TEST(Decoder, StreamCutShortFailsWhereItsBytesStop) {
    // 97, 98, 99 and END_CODE at 11 bits, END_CODE ending at bit 44, then
    // the zero codes: 9 bytes.
    const Bytes abc = encode(bytes_of("abc"));
    const Bytes text = encode(text_like(1 << 20, 51));
    const auto cut = [](const Bytes& stream, std::size_t bytes) {
        return Bytes(stream.begin(), stream.begin() + static_cast<long>(bytes));
    };
    const std::size_t half = text.size() / 2;
    const std::vector<ShortStream> rows = {
        {"nothing_arrives", {}, "MORNAK_ERROR_NO_END_CODE at bit 0"},
        {"cut_inside_the_third_code", cut(abc, 4), "MORNAK_ERROR_NO_END_CODE at bit 32"},
        {"cut_inside_the_closing_codes", cut(abc, 8), "MORNAK_ERROR_SHORT_FILLER at bit 64"},
        {"cut_inside_the_first_closing_code", cut(abc, 6), "MORNAK_ERROR_SHORT_FILLER at bit 48"},
        // Cut where the decoder runs its fast loop.
        {"cut_halfway_through_a_large_stream", cut(text, half),
         "MORNAK_ERROR_NO_END_CODE at bit " + std::to_string(8 * half)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(decode_stream(row.arrives).error, row.error);
    }
}

}  // namespace
