#include "round_trip_rows.hpp"

#include <stdexcept>

#include "decoder_trace.hpp"
#include "format.hpp"

namespace {

// Input whose stream, after the code that leaves one 16-bit entry free, has
// the literal 0x80 and then an entry of 32768 or more: the 17 bits after that
// code read as END_CODE at 17 bits, though the stream goes on. Noise fills
// the first dictionary and a CLEAR_CODE follows; a fill takes 982250 bits, so
// in the second dictionary, filled by text, that code ends on bit 4 of a
// byte: a reader fed a byte at a time first takes it with exactly 68 bits
// after it. The 0x80 comes right after the code's bytes; then the text again
// from the code before, which the newest entries match.
Bytes seventeen_bits_that_look_like_the_end() {
    const Bytes base = random_bytes(100000, 21) + text_like(500000, 22);
    const auto codes = decode_stream(encode(base)).codes;
    std::size_t k = 0, end = 0;
    while (k + 1 < codes.size() && (codes[k].entries != mornak::CODE_LIMIT - 1 || codes[k].end_bit % 8 != 4)) {
        end += codes[k++].length;
    }
    if (k < 1 || k + 1 >= codes.size()) {
        throw std::runtime_error("the second dictionary never fills");
    }
    end += codes[k].length;
    const auto from = static_cast<long>(end - codes[k].length - codes[k - 1].length);
    const Bytes input = Bytes(base.begin(), base.begin() + static_cast<long>(end)) + Bytes{0x80} +
                        Bytes(base.begin() + from, base.begin() + from + 1000);
    const auto made = decode_stream(encode(input)).codes;
    if (made[k].end_bit != codes[k].end_bit || made[k + 1].code != 0x80 || made[k + 2].code < 32768) {
        throw std::runtime_error("the 17 bits after the code do not look like the end");
    }
    return input;
}

Bytes repeated(const Bytes& part, int times) {
    Bytes out;
    for (int i = 0; i < times; ++i) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

}  // namespace

const std::vector<RoundTrip>& round_trip_rows() {
    static const std::vector<RoundTrip> rows = [] {
        const Bytes pairs = distinct_pairs();
        const auto prefix = [&](std::size_t n) { return Bytes(pairs.begin(), pairs.begin() + static_cast<long>(n)); };
        std::vector<RoundTrip> made = {
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
            // While the stream's end is unknown, 68 bits after that code are
            // too few to tell 17-bit closing codes from more 16-bit codes.
            {"seventeen_bits_that_look_like_the_end", seventeen_bits_that_look_like_the_end()},
            // One dictionary whose stream passes 2^32 / 100 bytes (42,949,672):
            // bytes_out * 100 then wraps in the ratio rule's 32-bit arithmetic,
            // and the rule starts a fresh dictionary about 5 MB of input later,
            // where 64-bit arithmetic would not.
            {"ratio_in_32_bits_past_42_9_mb_of_stream", repeated(text_like(9'500'000, 1), 16), 0, 0, 1, 0, true},
        };
        // With one literal per byte, a prefix of n bytes makes n - 1 entries and
        // ends with next_code = 257 + n: equal to max_code for n = 2^w - 258.
        for (int width = 11; width <= 16; ++width) {
            const std::size_t n = (std::size_t{1} << width) - 258;
            const std::string w = std::to_string(width);
            made.push_back({"one_code_left_at_" + w, prefix(n), width + 1, width, 0});
            made.push_back({"two_codes_left_at_" + w, prefix(n - 1), width, width, 0});
            if (width < 16) {
                made.push_back({"just_widened_to_" + std::to_string(width + 1), prefix(n + 1), width + 1, width + 1, 0});
            }
        }
        return made;
    }();
    return rows;
}
