#include "lzw/decoder.hpp"

#include <cstring>

#include "lzw/code_stream.hpp"

namespace lzw {

CodeTrace trace_code = nullptr;

namespace {

constexpr std::uint32_t CODE_LIMIT = 1u << MAX_CODE_BITS;  // 65536
// The longest string a code can stand for: a chain through every entry.
constexpr std::size_t MAX_STRING = CODE_LIMIT;
// Closing codes at 17 bits: END_CODE and three zero codes.
constexpr std::uint64_t CLOSING_BITS_AT_17 = 4 * 17;
// The first code of an empty input as earlier converters wrote it: the
// end-of-input value in place of a byte, all 11 bits set.
constexpr std::uint32_t OLD_EMPTY_MARK = (1u << INITIAL_CODE_BITS) - 1;

constexpr std::size_t IN_BLOCK = 64 * 1024;
// Restored bytes collect in the area; once it is nearly full, all but the
// last KEEP_BYTES have been handed out and the rest slides to its start,
// where strings are still copied from.
constexpr std::size_t AREA_BYTES = 8u << 20;
constexpr std::size_t KEEP_BYTES = 4u << 20;
constexpr std::size_t COPY_CHUNK = 16;  // strings are copied in chunks, which may overrun
constexpr std::size_t AREA_LIMIT = AREA_BYTES - MAX_STRING - COPY_CHUNK;

// A dictionary string: where its bytes last appeared in the output
// (absolute offset), its length, and the entry it extends by one byte.
struct Entry {
    std::uint32_t pos;
    std::uint32_t length;
    std::uint16_t prefix;
    std::uint8_t last;
    std::uint8_t first;
};
Entry entries[CODE_LIMIT];

std::uint8_t area[AREA_BYTES];
std::uint8_t in_block[IN_BLOCK];

struct Decoder {
    Source source;
    std::uint64_t stream_bits;
    std::uint64_t bit;       // stream bits taken so far
    std::uint64_t acc;       // `count` bits not yet taken, left-aligned
    int count;
    std::size_t in_at, in_end;
    std::uint64_t expected;
    std::uint64_t window;    // absolute output offset of area[0]
    std::size_t fill;        // area bytes in use
    std::size_t handed;      // area bytes already handed out
    int width;
    std::uint32_t next;      // number of the next entry
    bool fresh;              // no data code since the start or the last CLEAR_CODE
    std::uint32_t previous;  // the last data code
    std::uint64_t previous_pos;
    bool ended;
    DecodeStatus status;
};
Decoder d;

std::uint64_t restored() { return d.window + d.fill; }

void fail(DecodeFault fault, std::uint64_t at_bit, std::uint32_t code = 0) {
    d.ended = true;
    d.status = {fault, at_bit, code, restored()};
}

// Tops the accumulator up to at least 57 bits, or to what the stream holds.
void refill() {
    while (d.count <= 56) {
        if (d.in_at == d.in_end) {
            d.in_at = 0;
            d.in_end = d.source({in_block, IN_BLOCK});
            if (d.in_end == 0) {
                return;
            }
        }
        d.acc |= std::uint64_t{in_block[d.in_at++]} << (56 - d.count);
        d.count += 8;
    }
}

// The next `bits` bits without taking them; the caller made sure they are there.
std::uint32_t peek(int bits) { return static_cast<std::uint32_t>(d.acc >> (64 - bits)); }

void skip(int bits) {
    d.acc <<= bits;
    d.count -= bits;
    d.bit += static_cast<std::uint64_t>(bits);
}

std::uint64_t bits_left() { return d.stream_bits - d.bit; }

// Writes the string of `code` at the end of the output: a copy of its last
// appearance while that is in the area, else rebuilt from the entries.
// `length` includes, for the entry being made (code == next), the byte that
// repeats the previous string's first.
void emit(std::uint32_t code, std::uint32_t length) {
    std::uint8_t* out = area + d.fill;
    const bool making = code == d.next;
    const std::uint64_t from = making ? d.previous_pos : entries[code].pos;
    if (code < 256) {
        out[0] = static_cast<std::uint8_t>(code);
    } else if (from >= d.window) {
        // The source ends at or before `out`, so chunked copies never read
        // what they write within the string itself.
        const std::uint8_t* in = area + (from - d.window);
        for (std::size_t i = 0; i < length; i += COPY_CHUNK) {
            std::memcpy(out + i, in + i, COPY_CHUNK);
        }
        if (making) {
            out[length - 1] = out[0];
        }
    } else {
        std::uint32_t c = making ? d.previous : code;
        std::uint32_t i = length;
        if (making) {
            out[--i] = entries[d.previous].first;
        }
        while (i > 0) {
            out[--i] = entries[c].last;
            c = entries[c].prefix;
        }
    }
    if (code < d.next) {
        entries[code].pos = static_cast<std::uint32_t>(restored());
    }
}

// Slides the last KEEP_BYTES of the area to its start once the area has no
// room left for the longest string.
void make_room() {
    if (d.fill <= AREA_LIMIT) {
        return;
    }
    const std::size_t drop = d.fill - KEEP_BYTES;
    std::memmove(area, area + drop, KEEP_BYTES);
    d.window += drop;
    d.fill = KEEP_BYTES;
    d.handed = KEEP_BYTES;
}

void fresh_dictionary() {
    d.width = INITIAL_CODE_BITS;
    d.next = FIRST_FREE_CODE;
    d.fresh = true;
}

// Checks what follows END_CODE: three zero codes at its width, of which the
// writer never stored the last (fewer than 8) bits, and nothing after them.
void check_closing() {
    const std::uint64_t rest = bits_left();
    const auto filler = static_cast<std::uint64_t>(3 * d.width);
    if (rest > filler) {
        fail(DecodeFault::trailing_bytes, (d.bit + filler) / 8 * 8);  // the first byte the writer would not have stored
        return;
    }
    if (rest + 8 <= filler) {
        fail(DecodeFault::short_filler, d.stream_bits);
        return;
    }
    refill();
    if (d.count < static_cast<int>(rest)) {
        fail(DecodeFault::short_filler, d.bit + static_cast<std::uint64_t>(d.count));
        return;
    }
    if (rest != 0 && peek(static_cast<int>(rest)) != 0) {
        fail(DecodeFault::filler_not_zero, d.bit);
        return;
    }
    if (restored() != d.expected) {
        fail(DecodeFault::shorter_than_header, d.bit);
        return;
    }
    d.ended = true;
}

// Reads and acts on one code; false once decoding has ended.
bool step() {
    const int width = d.width;
    if (bits_left() < static_cast<std::uint64_t>(width)) {
        fail(DecodeFault::no_end_code, d.stream_bits);
        return false;
    }
    if (d.count < width) {
        refill();
        if (d.count < width) {  // the file held less than its size said
            fail(DecodeFault::no_end_code, d.bit + static_cast<std::uint64_t>(d.count));
            return false;
        }
    }
    const std::uint64_t start = d.bit;
    const std::uint32_t code = peek(width);
    skip(width);
    if (code == END_CODE) {
        if (trace_code != nullptr) {
            trace_code(code, width, d.bit, 0, d.next);
        }
        check_closing();
        return false;
    }
    if (code == CLEAR_CODE) {
        if (width != MAX_CODE_BITS || d.next < CODE_LIMIT - 1) {
            fail(DecodeFault::misplaced_clear, start, code);
            return false;
        }
        fresh_dictionary();
        if (trace_code != nullptr) {
            trace_code(code, width, d.bit, 0, d.next);
        }
        return true;
    }
    if (code == OLD_EMPTY_MARK && start == 0 && d.expected == 0) {
        return true;  // an empty input as earlier converters wrote it
    }
    const bool defined = code < 256 || (!d.fresh && (code < d.next || (code == d.next && d.next < CODE_LIMIT)));
    if (!defined) {
        fail(DecodeFault::undefined_code, start, code);
        return false;
    }
    const std::uint32_t length = code < 256 ? 1 : code == d.next ? entries[d.previous].length + 1 : entries[code].length;
    if (restored() + length > d.expected) {
        fail(DecodeFault::longer_than_header, start, code);
        return false;
    }
    const std::uint64_t pos = restored();
    emit(code, length);
    // The entry the encoder made when it wrote the previous code: that
    // string plus the first byte of this one.
    if (!d.fresh && d.next < CODE_LIMIT) {
        const Entry& before = entries[d.previous];
        entries[d.next] = {static_cast<std::uint32_t>(d.previous_pos), before.length + 1,
                           static_cast<std::uint16_t>(d.previous), area[d.fill], before.first};
        ++d.next;
    }
    d.fill += length;
    d.previous = code;
    d.previous_pos = pos;
    d.fresh = false;
    if (trace_code != nullptr) {
        trace_code(code, width, d.bit, length, d.next);
    }
    if (d.next >= (1u << width) - 1) {
        if (width < MAX_CODE_BITS) {
            ++d.width;
        } else if (d.next == CODE_LIMIT - 1 && bits_left() <= CLOSING_BITS_AT_17 && bits_left() >= 17) {
            // One 16-bit code was left when the input ended, and the closing
            // codes are then 17 bits wide; only the end of the stream tells.
            refill();
            if (d.count >= 17 && peek(17) == END_CODE) {
                d.width = 17;
            }
        }
    }
    return true;
}

}  // namespace

void start_decoder(Source source, std::uint64_t stream_bytes, std::uint64_t expected_bytes) {
    d = Decoder{};
    d.source = source;
    d.stream_bits = 8 * stream_bytes;
    d.expected = expected_bytes;
    fresh_dictionary();
    for (std::uint32_t c = 0; c < 256; ++c) {
        entries[c] = {0, 1, 0, static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c)};
    }
}

std::span<const std::uint8_t> decode_more() {
    make_room();
    while (!d.ended && d.fill <= AREA_LIMIT) {
        step();
    }
    const std::span<const std::uint8_t> run{area + d.handed, area + d.fill};
    d.handed = d.fill;
    return run;
}

DecodeStatus decode_status() {
    DecodeStatus status = d.status;
    status.restored = restored();
    return status;
}

}  // namespace lzw
