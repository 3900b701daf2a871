#include "decoder.hpp"

#include <algorithm>

#include "lzw/code_stream.hpp"
#include "lzw/decoder.hpp"

namespace {

constexpr std::uint32_t CODE_LIMIT = 1u << lzw::MAX_CODE_BITS;  // 65536

std::span<const std::uint8_t> source_bytes;
std::vector<TracedCode>* trace = nullptr;

std::size_t from_memory(std::span<std::uint8_t> into) {
    const std::size_t n = std::min(into.size(), source_bytes.size());
    std::copy_n(source_bytes.begin(), n, into.begin());
    source_bytes = source_bytes.subspan(n);
    return n;
}

void record(std::uint32_t code, int width, std::uint64_t end_bit, std::uint32_t length, std::uint32_t next) {
    trace->push_back({code, width, end_bit, length, next});
}

const char* fault_name(lzw::DecodeFault fault) {
    switch (fault) {
        case lzw::DecodeFault::none: return "";
        case lzw::DecodeFault::undefined_code: return "undefined code";
        case lzw::DecodeFault::misplaced_clear: return "misplaced CLEAR_CODE";
        case lzw::DecodeFault::no_end_code: return "stream ends without END_CODE";
        case lzw::DecodeFault::short_filler: return "closing filler too short";
        case lzw::DecodeFault::filler_not_zero: return "filler bit set";
        case lzw::DecodeFault::trailing_bytes: return "bytes after the closing filler";
        case lzw::DecodeFault::longer_than_header: return "longer than the header says";
        case lzw::DecodeFault::shorter_than_header: return "shorter than the header says";
    }
    return "?";
}

// Pairs (prefix code, next byte) in the dictionary, as one bit each.
struct KnownPairs {
    std::vector<bool> known = std::vector<bool>(std::size_t{CODE_LIMIT} * 256);
    std::vector<std::size_t> made;  // keys set, so forgetting costs what learning did
    static std::size_t key(std::uint32_t before, std::uint8_t next) { return std::size_t{before} * 256 + next; }
    void forget() {
        for (const std::size_t k : made) {
            known[k] = false;
        }
        made.clear();
    }
    bool has(std::uint32_t before, std::uint8_t next) const { return known[key(before, next)]; }
    void add(std::uint32_t before, std::uint8_t next) {
        known[key(before, next)] = true;
        made.push_back(key(before, next));
    }
};

// The encoder writes a code only when the pair of it and the next byte is not
// in its dictionary: were it there, it missed a longer match.
std::string check_longest_matches(const Decoded& decoded) {
    static KnownPairs pairs;  // kept between calls: the fuzzer decodes many small streams
    pairs.forget();
    std::size_t offset = 0;
    bool fresh = true;
    std::uint32_t previous = 0;
    std::uint32_t next = lzw::FIRST_FREE_CODE;
    for (std::size_t k = 0; k < decoded.codes.size(); ++k) {
        const TracedCode& c = decoded.codes[k];
        if (c.code == lzw::CLEAR_CODE) {
            pairs.forget();
            fresh = true;
            next = c.entries;
            continue;
        }
        if (c.length == 0) {
            continue;
        }
        const std::uint8_t joint = decoded.bytes[offset];
        if (!fresh && pairs.has(previous, joint)) {
            return "code " + std::to_string(k - 1) + " is not the longest match";
        }
        if (c.entries != next) {  // the decoder made the entry (previous, joint)
            pairs.add(previous, joint);
        }
        next = c.entries;
        offset += c.length;
        previous = c.code;
        fresh = false;
    }
    return {};
}

// The decoder, traced or not: untraced, it takes most codes on its fast path,
// which tracing turns off; both must restore the same bytes and stop at the
// same fault.
lzw::DecodeStatus run_decoder(std::span<const std::uint8_t> stream, std::uint64_t told, std::uint64_t expected,
                              lzw::CodeTrace tracer, std::vector<std::uint8_t>& bytes) {
    source_bytes = stream;
    lzw::trace_code = tracer;
    lzw::start_decoder(from_memory, told, expected);
    for (auto run = lzw::decode_more(); !run.empty(); run = lzw::decode_more()) {
        bytes.insert(bytes.end(), run.begin(), run.end());
    }
    lzw::trace_code = nullptr;
    return lzw::decode_status();
}

}  // namespace

Decoded decode_stream(std::span<const std::uint8_t> stream, std::uint64_t expected, std::uint64_t told) {
    Decoded out;
    trace = &out.codes;
    if (told == 0) {
        told = stream.size();
    }
    const lzw::DecodeStatus status = run_decoder(stream, told, expected, record, out.bytes);
    std::vector<std::uint8_t> untraced;
    const lzw::DecodeStatus fast = run_decoder(stream, told, expected, nullptr, untraced);
    if (untraced != out.bytes || fast.fault != status.fault || fast.at_bit != status.at_bit) {
        out.error = "untraced decoding differs from traced";
        return out;
    }
    const bool any_length = expected == ANY_LENGTH && status.fault == lzw::DecodeFault::shorter_than_header;
    if (status.fault != lzw::DecodeFault::none && !any_length) {
        out.error = std::string(fault_name(status.fault)) + " at bit " + std::to_string(status.at_bit);
        return out;
    }
    out.error = check_longest_matches(out);
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
