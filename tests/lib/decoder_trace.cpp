#include "decoder_trace.hpp"

#include <algorithm>
#include <memory>

#include "format.hpp"
#include "internal.hpp"

namespace {

constexpr std::uint32_t CODE_LIMIT = mornak::CODE_LIMIT;

void record(void* trace, std::uint32_t code, int width, std::uint64_t end_bit, std::uint32_t length,
            std::uint32_t next) {
    static_cast<std::vector<TracedCode>*>(trace)->push_back({code, width, end_bit, length, next});
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
    std::uint32_t next = mornak::FIRST_FREE_CODE;
    for (std::size_t k = 0; k < decoded.codes.size(); ++k) {
        const TracedCode& c = decoded.codes[k];
        if (c.code == mornak::CLEAR_CODE) {
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

struct DecoderFree {
    void operator()(mornak_decoder* d) const { mornak_decoder_free(d); }
};

struct Outcome {
    mornak_status status;
    std::uint64_t fault_bit;
};

// The decoder, traced or not: untraced, it takes most codes on its fast path,
// which tracing turns off; both must restore the same bytes and stop at the
// same fault. `trace` is null for the untraced run.
Outcome run_decoder(std::span<const std::uint8_t> stream, std::uint64_t expected, std::vector<TracedCode>* trace,
                    std::vector<std::uint8_t>& bytes) {
    static const std::unique_ptr<mornak_decoder, DecoderFree> decoder(mornak_decoder_create());
    const auto header = mornak::make_header(static_cast<std::uint32_t>(expected));
    std::vector<std::uint8_t> file(header.begin(), header.end());
    file.insert(file.end(), stream.begin(), stream.end());
    mornak_decoder_begin(decoder.get());
    mornak::internal::set_trace(decoder.get(), trace != nullptr ? record : nullptr, trace);
    mornak_in in{file.data(), file.size(), 0};
    mornak_status status = MORNAK_MORE;
    while (status == MORNAK_MORE) {
        static std::uint8_t chunk[1 << 20];
        mornak_out out{chunk, sizeof chunk, 0};
        status = mornak_decoder_run(decoder.get(), &in, &out, 1);
        bytes.insert(bytes.end(), chunk, chunk + out.pos);
    }
    mornak::internal::set_trace(decoder.get(), nullptr, nullptr);
    return {status, mornak::internal::fault_bit(decoder.get())};
}

}  // namespace

Decoded decode_stream(std::span<const std::uint8_t> stream, std::uint64_t expected) {
    Decoded out;
    const Outcome traced = run_decoder(stream, expected, &out.codes, out.bytes);
    std::vector<std::uint8_t> untraced;
    const Outcome fast = run_decoder(stream, expected, nullptr, untraced);
    if (untraced != out.bytes || fast.status != traced.status || fast.fault_bit != traced.fault_bit) {
        out.error = "untraced decoding differs from traced";
        return out;
    }
    const bool any_length = expected == ANY_LENGTH && traced.status == MORNAK_ERROR_SHORTER_THAN_HEADER;
    if (traced.status != MORNAK_OK && !any_length) {
        out.error = std::string(mornak_status_name(traced.status)) + " at bit " + std::to_string(traced.fault_bit);
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
        const bool cleared = codes[k + 1].code == mornak::CLEAR_CODE;
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
