#include "decoder.hpp"

#include <cstdio>
#include <memory>

#include "lzw/code_stream.hpp"

namespace {

constexpr std::uint32_t CODE_LIMIT = 1u << lzw::MAX_CODE_BITS;  // 65536
constexpr std::uint64_t CLOSING_BITS_AT_17 = 4 * 17;            // END_CODE and three fillers

std::uint32_t peek_bits(std::span<const std::uint8_t> stream, std::uint64_t bit, int width) {
    std::uint32_t value = 0;
    for (int i = 0; i < width; ++i, ++bit) {
        value = value << 1 | ((std::uint32_t{stream[bit / 8]} >> (7 - bit % 8)) & 1u);
    }
    return value;
}

struct Dictionary {
    std::vector<std::uint32_t> prefix = std::vector<std::uint32_t>(CODE_LIMIT);
    std::vector<std::uint8_t> last = std::vector<std::uint8_t>(CODE_LIMIT);
    std::vector<std::uint8_t> first = std::vector<std::uint8_t>(CODE_LIMIT);
    std::vector<std::uint32_t> length = std::vector<std::uint32_t>(CODE_LIMIT);
    std::vector<bool> known = std::vector<bool>(CODE_LIMIT * 256);  // by prefix * 256 + last byte
    std::vector<std::size_t> made;  // keys set in `known`, so forgetting costs what learning did

    Dictionary() {
        for (std::uint32_t c = 0; c < 256; ++c) {
            last[c] = first[c] = static_cast<std::uint8_t>(c);
            length[c] = 1;
        }
    }
    static std::size_t key(std::uint32_t before, std::uint8_t next) { return std::size_t{before} * 256 + next; }
    void forget() {
        for (const std::size_t k : made) {
            known[k] = false;
        }
        made.clear();
    }
    void add(std::uint32_t entry, std::uint32_t before, std::uint8_t next) {
        known[key(before, next)] = true;
        made.push_back(key(before, next));
        prefix[entry] = before;
        first[entry] = first[before];
        last[entry] = next;
        length[entry] = length[before] + 1;
    }
    void emit(std::uint32_t code, std::vector<std::uint8_t>& out) const {
        const std::size_t at = out.size();
        out.resize(at + length[code]);
        for (std::size_t i = length[code]; i-- > 0; code = prefix[code]) {
            out[at + i] = last[code];
        }
    }
};

}  // namespace

Decoded decode_stream(std::span<const std::uint8_t> stream) {
    Decoded out;
    const std::uint64_t total_bits = 8 * stream.size();
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        ::fmemopen(const_cast<std::uint8_t*>(stream.data()), stream.size(), "rb"), std::fclose);
    if (!file) {
        out.error = "cannot open the stream";
        return out;
    }
    lzw::start_reader();
    // Kept between calls: the fuzzer decodes many small streams.
    static Dictionary dictionary;
    dictionary.forget();
    int width = lzw::INITIAL_CODE_BITS;
    std::uint32_t next = lzw::FIRST_FREE_CODE;
    bool fresh = true;  // no code read since the start or the last CLEAR_CODE
    std::uint32_t previous = 0;
    std::uint64_t bit = 0;
    for (;;) {
        if (bit + static_cast<std::uint64_t>(width) > total_bits) {
            out.error = "stream ends without END_CODE";
            return out;
        }
        lzw::code_width = width;
        const std::uint32_t code = lzw::read_code(file.get());
        bit += static_cast<std::uint64_t>(width);
        out.codes.push_back({code, width, bit, 0, next});
        if (code == lzw::END_CODE) {
            break;
        }
        if (code == lzw::CLEAR_CODE) {
            dictionary.forget();
            width = lzw::INITIAL_CODE_BITS;
            next = lzw::FIRST_FREE_CODE;
            fresh = true;
            continue;
        }
        const bool defined = code < 256 || (!fresh && (code < next || (code == next && next < CODE_LIMIT)));
        if (!defined) {
            out.error = "undefined code " + std::to_string(code) + " at code " + std::to_string(out.codes.size() - 1);
            return out;
        }
        // The previous string plus the first byte of this one (the previous
        // string's own first byte when this code is the entry being made). The
        // encoder wrote the previous code because that pair was not in its
        // dictionary: were it there, the encoder missed a longer match.
        const std::uint8_t joint = dictionary.first[code == next ? previous : code];
        if (!fresh && dictionary.known[Dictionary::key(previous, joint)]) {
            out.error = "code " + std::to_string(out.codes.size() - 2) + " is not the longest match";
            return out;
        }
        if (!fresh && next < CODE_LIMIT) {
            dictionary.add(next, previous, joint);
            ++next;
        }
        dictionary.emit(code, out.bytes);
        out.codes.back().length = dictionary.length[code];
        out.codes.back().entries = next;
        previous = code;
        fresh = false;
        if (next >= (1u << width) - 1) {
            if (width < lzw::MAX_CODE_BITS) {
                ++width;
            } else if (next == CODE_LIMIT - 1 && total_bits - bit <= CLOSING_BITS_AT_17 &&
                       peek_bits(stream, bit, 17) == lzw::END_CODE) {
                // One 16-bit code was left when the input ended: the closing
                // codes are 17 bits wide. Only this few bits can remain then.
                width = 17;
            }
        }
    }
    // Three zero fillers at END_CODE's width, of which the writer never stores
    // the last (fewer than 8) bits.
    const std::uint64_t rest = total_bits - bit;
    const auto filler = static_cast<std::uint64_t>(3 * width);
    if (rest > filler || rest + 8 <= filler) {
        out.error = "closing filler is " + std::to_string(rest) + " bits, not 3 x " + std::to_string(width);
    }
    for (; bit < total_bits && out.error.empty(); ++bit) {
        if (peek_bits(stream, bit, 1) != 0) {
            out.error = "filler bit set";
        }
    }
    return out;
}

std::string check_ratio_rule(const Decoded& decoded, std::size_t& dots) {
    constexpr std::uint32_t gap = 100;  // bytes between checks
    dots = 0;
    std::uint64_t covered = 0;       // input bytes the data codes so far stand for
    std::uint64_t fresh_start = 1;   // bytes consumed when bytes_in was last zero
    std::uint64_t out_base = 0;      // bytes stored when bytes_out was last zero
    std::int32_t ratio_mark = 100;
    std::uint32_t next_check = gap;
    const auto& codes = decoded.codes;
    std::size_t last_data = codes.size();
    while (last_data > 0 && codes[last_data - 1].length == 0) {
        --last_data;
    }
    for (std::size_t k = 0; k + 1 < last_data; ++k) {
        if (codes[k].length == 0) {
            continue;
        }
        covered += codes[k].length;
        // The encoder writes a code once it has read the byte after it.
        const auto bytes_in = static_cast<std::uint32_t>(covered + 1 - fresh_start);
        const auto bytes_out = static_cast<std::uint32_t>(codes[k].end_bit / 8 - out_base);
        const bool cleared = codes[k + 1].code == lzw::CLEAR_CODE;
        bool expect_clear = false;
        if (codes[k].entries >= CODE_LIMIT - 1 && bytes_in > next_check) {
            const std::uint32_t ratio = bytes_out * 100 / bytes_in;
            expect_clear = static_cast<std::int32_t>(ratio) > ratio_mark;
            ratio_mark = expect_clear ? 100 : static_cast<std::int32_t>(ratio);
            next_check = (expect_clear ? 0 : bytes_in) + gap;
        }
        if (cleared != expect_clear) {
            return (expect_clear ? "missing" : "unexpected") + std::string(" CLEAR_CODE after code ") +
                   std::to_string(k);
        }
        if (cleared) {
            dots += bytes_in / 10000;
            fresh_start = covered + 1;
            out_base = codes[k + 1].end_bit / 8;
        }
    }
    if (last_data > 0) {
        covered += codes[last_data - 1].length;
        dots += (covered - fresh_start) / 10000;
    }
    return {};
}
