#include "lzw/decoder.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include "lzw/code_stream.hpp"
#include "lzw/huge_page.hpp"

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
// where strings are still copied from. The area takes what the huge page
// leaves beside the other tables: the more output it keeps, the fewer
// strings have to be rebuilt entry by entry.
constexpr std::size_t AREA_BYTES = 1408u << 10;
constexpr std::size_t KEEP_BYTES = 704u << 10;
constexpr std::size_t COPY_CHUNK = 16;  // strings are copied in chunks, which may overrun
constexpr std::size_t AREA_LIMIT = AREA_BYTES - MAX_STRING - COPY_CHUNK;

// A dictionary string: where its bytes last appeared in the output
// (absolute offset), its length, and the entry it extends by one byte, whose
// last byte is kept apart since only rebuilding a string reads it. A string
// is at most 65279 bytes long: a chain through every entry.
struct Entry {
    std::uint32_t pos;
    std::uint16_t length;
    std::uint16_t prefix;
};
// The decoder's tables, in one huge page.
struct Tables {
    Entry entries[CODE_LIMIT];
    std::uint8_t last_byte[CODE_LIMIT];
    std::uint8_t area[AREA_BYTES];
    std::uint8_t in_block[IN_BLOCK];
};
static_assert(sizeof(Tables) <= HUGE_PAGE);
HugePageRoom room;
Tables& tables = *reinterpret_cast<Tables*>(huge_page_in(room));
Entry (&entries)[CODE_LIMIT] = tables.entries;
std::uint8_t (&last_byte)[CODE_LIMIT] = tables.last_byte;
std::uint8_t (&area)[AREA_BYTES] = tables.area;
std::uint8_t (&in_block)[IN_BLOCK] = tables.in_block;

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
    std::uint32_t previous_length;
    bool ended;
    DecodeStatus status;
};
Decoder d;

std::uint64_t restored(const Decoder& s) { return s.window + s.fill; }

void fail(Decoder& s, DecodeFault fault, std::uint64_t at_bit, std::uint32_t code = 0) {
    s.ended = true;
    s.status = {fault, at_bit, code, restored(s)};
}

// Tops the accumulator up to at least 57 bits, or to what the stream holds.
inline void refill(Decoder& s) {
    if (s.in_end - s.in_at >= 8) {
        // Eight bytes at once. The bytes that do not wholly fit leave their
        // top bits in the accumulator, and are taken again next time, when
        // the same bits land on the same places.
        std::uint64_t word;
        std::memcpy(&word, in_block + s.in_at, 8);
        s.acc |= __builtin_bswap64(word) >> s.count;
        const int whole = (63 - s.count) >> 3;
        s.in_at += static_cast<std::size_t>(whole);
        s.count += 8 * whole;
        return;
    }
    while (s.count <= 56) {
        if (s.in_at == s.in_end) {
            s.in_at = 0;
            s.in_end = s.source({in_block, IN_BLOCK});
            if (s.in_end == 0) {
                return;
            }
        }
        s.acc |= std::uint64_t{in_block[s.in_at++]} << (56 - s.count);
        s.count += 8;
    }
}

// The next `bits` bits without taking them; the caller made sure they are there.
std::uint32_t peek(const Decoder& s, int bits) { return static_cast<std::uint32_t>(s.acc >> (64 - bits)); }

void skip(Decoder& s, int bits) {
    s.acc <<= bits;
    s.count -= bits;
    s.bit += static_cast<std::uint64_t>(bits);
}

std::uint64_t bits_left(const Decoder& s) { return s.stream_bits - s.bit; }

// Every byte value, followed by room for a chunk's overrun: literals are
// copied from here like strings from the area.
constexpr auto LITERALS = [] {
    std::array<std::uint8_t, 256 + COPY_CHUNK> bytes{};
    for (std::size_t b = 0; b < 256; ++b) {
        bytes[b] = static_cast<std::uint8_t>(b);
    }
    return bytes;
}();

// Copies a string of `length` (at least 1) bytes from `from` to `out`, in
// chunks through a register, which may overrun `out` by up to a chunk. The
// source ends at or before `out`, so a chunk never reads what an earlier one
// of the same string wrote.
inline void copy_string(std::uint8_t* out, const std::uint8_t* from, std::uint32_t length) {
    std::size_t i = 0;
    do {
        std::uint8_t piece[COPY_CHUNK];
        std::memcpy(piece, from + i, COPY_CHUNK);
        std::memcpy(out + i, piece, COPY_CHUNK);
        i += COPY_CHUNK;
    } while (i < length);
}

// Writes the string of dictionary entry `code` at the end of the output: a copy of its last
// appearance while that is in the area, else rebuilt from the entries.
// `length` includes, for the entry being made (code == next), the byte that
// repeats the previous string's first.
void emit(Decoder& s, std::uint32_t code, std::uint32_t length) {
    std::uint8_t* out = area + s.fill;
    const bool making = code == s.next;
    const std::uint64_t from = making ? s.previous_pos : entries[code].pos;
    if (from >= s.window) {
        copy_string(out, area + (from - s.window), length);
        if (making) {
            out[length - 1] = out[0];
        }
    } else {
        // Older than the window: rebuilt from its end, entry by entry.
        std::uint32_t c = making ? s.previous : code;
        std::uint32_t i = length;
        if (making) {
            out[--i] = area[s.previous_pos - s.window];  // the previous string's first byte
        }
        // Back along the prefixes until one whose string is still in the
        // area gives the rest at once: short prefixes are used often, so
        // their last appearance is usually recent.
        while (i > 0) {
            if (c >= FIRST_FREE_CODE && entries[c].pos >= s.window) {
                std::memcpy(out, area + (entries[c].pos - s.window), i);  // string c is exactly i bytes
                break;
            }
            out[--i] = last_byte[c];
            c = entries[c].prefix;
        }
    }
    if (code < s.next) {
        entries[code].pos = static_cast<std::uint32_t>(restored(s));
    }
}

// Slides the last KEEP_BYTES of the area to its start once the area has no
// room left for the longest string.
void make_room(Decoder& s) {
    if (s.fill <= AREA_LIMIT) {
        return;
    }
    const std::size_t drop = s.fill - KEEP_BYTES;
    std::memmove(area, area + drop, KEEP_BYTES);
    s.window += drop;
    s.fill = KEEP_BYTES;
    s.handed = KEEP_BYTES;
}

void fresh_dictionary(Decoder& s) {
    s.width = INITIAL_CODE_BITS;
    s.next = FIRST_FREE_CODE;
    s.fresh = true;
}

// Checks what follows END_CODE: three zero codes at its width, of which the
// writer never stored the last (fewer than 8) bits, and nothing after them.
void check_closing(Decoder& s, std::uint64_t end_code_bit) {
    const std::uint64_t rest = bits_left(s);
    const auto filler = static_cast<std::uint64_t>(3 * s.width);
    const std::uint64_t stored = (s.bit + filler) / 8 * 8 - s.bit;  // closing bits the writer stores
    refill(s);
    // A file that held less than its size said ends inside the closing
    // codes where its bytes stop, whatever its size said came after them.
    if (const auto held = static_cast<std::uint64_t>(s.count); held < std::min(rest, stored)) {
        fail(s, DecodeFault::short_filler, s.bit + held);
        return;
    }
    if (rest > filler) {
        fail(s, DecodeFault::trailing_bytes, (s.bit + filler) / 8 * 8);  // the first byte the writer would not have stored
        return;
    }
    if (rest + 8 <= filler) {
        fail(s, DecodeFault::short_filler, s.stream_bits);
        return;
    }
    // The stream ends on a byte, so rest is at most what the writer stores,
    // and all of it arrived.
    if (rest != 0 && peek(s, static_cast<int>(rest)) != 0) {
        fail(s, DecodeFault::filler_not_zero, s.bit);
        return;
    }
    if (restored(s) != s.expected) {
        fail(s, DecodeFault::shorter_than_header, end_code_bit);
        return;
    }
    s.ended = true;
}

// Reads and acts on one code; false once decoding has ended.
bool step(Decoder& s) {
    const int width = s.width;
    if (bits_left(s) < static_cast<std::uint64_t>(width)) {
        fail(s, DecodeFault::no_end_code, s.stream_bits);
        return false;
    }
    if (s.count < width) {
        refill(s);
        if (s.count < width) {  // the file held less than its size said
            fail(s, DecodeFault::no_end_code, s.bit + static_cast<std::uint64_t>(s.count));
            return false;
        }
    }
    const std::uint64_t start = s.bit;
    const std::uint32_t code = peek(s, width);
    skip(s, width);
    std::uint32_t length;
    if (code < 256) {
        length = 1;
    } else if (code >= FIRST_FREE_CODE && code < s.next) {  // fresh, next is FIRST_FREE_CODE
        length = entries[code].length;
    } else if (code == s.next && !s.fresh && s.next < CODE_LIMIT) {
        length = s.previous_length + 1;  // the entry being made: the previous string and its first byte
    } else if (code == END_CODE) {
        if (trace_code != nullptr) {
            trace_code(code, width, s.bit, 0, s.next);
        }
        check_closing(s, start);
        return false;
    } else if (code == CLEAR_CODE) {
        if (width != MAX_CODE_BITS || s.next < CODE_LIMIT - 1) {
            fail(s, DecodeFault::misplaced_clear, start, code);
            return false;
        }
        fresh_dictionary(s);
        if (trace_code != nullptr) {
            trace_code(code, width, s.bit, 0, s.next);
        }
        return true;
    } else if (code == OLD_EMPTY_MARK && start == 0 && s.expected == 0) {
        return true;  // an empty input as earlier converters wrote it
    } else {
        fail(s, DecodeFault::undefined_code, start, code);
        return false;
    }
    if (restored(s) + length > s.expected) {
        fail(s, DecodeFault::longer_than_header, start, code);
        return false;
    }
    const std::uint64_t pos = restored(s);
    if (code < 256) {
        area[s.fill] = static_cast<std::uint8_t>(code);
    } else {
        emit(s, code, length);
    }
    // The entry the encoder made when it wrote the previous code: that
    // string plus the first byte of this one.
    if (!s.fresh && s.next < CODE_LIMIT) {
        entries[s.next] = {static_cast<std::uint32_t>(s.previous_pos),
                           static_cast<std::uint16_t>(s.previous_length + 1), static_cast<std::uint16_t>(s.previous)};
        last_byte[s.next] = area[s.fill];
        ++s.next;
    }
    s.fill += length;
    s.previous = code;
    s.previous_pos = pos;
    s.previous_length = length;
    s.fresh = false;
    if (trace_code != nullptr) {
        trace_code(code, width, s.bit, length, s.next);
    }
    if (s.next >= (1u << width) - 1) {
        if (width < MAX_CODE_BITS) {
            ++s.width;
        } else if (s.next == CODE_LIMIT - 1 && bits_left(s) <= CLOSING_BITS_AT_17 && bits_left(s) >= 17) {
            // One 16-bit code was left when the input ended, and the closing
            // codes are then 17 bits wide; only the end of the stream tells.
            refill(s);
            if (s.count >= 17 && peek(s, 17) == END_CODE) {
                s.width = 17;
            }
        }
    }
    return true;
}

// Decodes codes while nothing unusual comes: a literal or a string still in
// the area, with room for it in the area and within the header's length,
// 16 bytes left in the input block and 128 bits before the stream's end (so
// no width is decided by the end), and the dictionary not fresh. Stops
// before the first code it does not take, which step() then takes. The
// state lives in locals the compiler can keep in registers: through `s`,
// each byte stored would make it read the state again.
void fast_steps(Decoder& s) {
    if (s.fresh || s.in_end < 16) {
        return;
    }
    // The stream bit at in_at: the accumulator holds the bits up to there.
    // Bits taken are then tracked through in_at and count alone.
    const std::uint64_t held = s.bit + static_cast<std::uint64_t>(s.count);
    if (held + 128 + 64 > s.stream_bits) {
        return;
    }
    const std::size_t in_limit = std::min<std::uint64_t>(s.in_end - 16, s.in_at + (s.stream_bits - held - 128) / 8);
    Tables& t = tables;
    const std::uint64_t window = s.window;
    const std::uint64_t fill_limit = std::min<std::uint64_t>(AREA_LIMIT, s.expected - window);
    const std::size_t in_start = s.in_at;
    const int count_start = s.count;
    std::uint64_t acc = s.acc;
    int count = s.count, width = s.width;
    std::size_t in_at = s.in_at, fill = s.fill;
    std::uint32_t next = s.next, previous = s.previous;
    std::uint64_t previous_pos = s.previous_pos;  // the previous string ends at window + fill
    while (in_at <= in_limit) {
        std::uint64_t word;
        std::memcpy(&word, t.in_block + in_at, 8);
        acc |= __builtin_bswap64(word) >> count;
        const int whole = (63 - count) >> 3;
        in_at += static_cast<std::size_t>(whole);
        count += 8 * whole;
        const auto code = static_cast<std::uint32_t>(acc >> (64 - width));
        std::uint8_t* const out = t.area + fill;
        std::uint32_t length;
        std::uint8_t first;
        if ((code < next) & (code - CLEAR_CODE > END_CODE - CLEAR_CODE)) {
            // A literal or a string in the dictionary, as one path: a
            // literal is copied from LITERALS, so the choice costs a
            // conditional move rather than a branch the data decides.
            const Entry e = t.entries[code];
            const bool literal = code < CLEAR_CODE;
            length = e.length;
            const std::uint8_t* const from = literal ? LITERALS.data() + code : t.area + (e.pos - window);
            if ((!literal & (e.pos < window)) | (fill + length > fill_limit)) {
                break;
            }
            first = *from;
            copy_string(out, from, length);
            t.entries[code].pos = static_cast<std::uint32_t>(window + fill);
        } else if (code == next && next < CODE_LIMIT) {
            // The entry being made: the previous string and its own first byte.
            length = static_cast<std::uint32_t>(window + fill - previous_pos) + 1;
            if (fill + length > fill_limit) {
                break;
            }
            const std::uint8_t* const from = t.area + (previous_pos - window);
            first = *from;
            copy_string(out, from, length);
            out[length - 1] = first;
        } else {
            break;
        }
        acc <<= width;
        count -= width;
        if (next < CODE_LIMIT) {
            t.entries[next] = {static_cast<std::uint32_t>(previous_pos),
                               static_cast<std::uint16_t>(window + fill - previous_pos + 1),
                               static_cast<std::uint16_t>(previous)};
            t.last_byte[next] = first;
            ++next;
            if (next >= (1u << width) - 1 && width < MAX_CODE_BITS) {
                ++width;
            }
        }
        previous = code;
        previous_pos = window + fill;
        fill += length;
    }
    s.bit += 8 * (in_at - in_start) + static_cast<std::uint64_t>(count_start - count);
    s.acc = acc;
    s.count = count;
    s.width = width;
    s.in_at = in_at;
    s.previous_length = static_cast<std::uint32_t>(window + fill - previous_pos);
    s.fill = fill;
    s.next = next;
    s.previous = previous;
    s.previous_pos = previous_pos;
}

}  // namespace

void start_decoder(Source source, std::uint64_t stream_bytes, std::uint64_t expected_bytes) {
    d = Decoder{};
    d.source = source;
    d.stream_bits = 8 * stream_bytes;
    d.expected = expected_bytes;
    fresh_dictionary(d);
    for (std::uint32_t c = 0; c < 256; ++c) {
        entries[c] = {0, 1, 0};
        last_byte[c] = static_cast<std::uint8_t>(c);
    }
}

std::span<const std::uint8_t> decode_more() {
    // A local copy, so that the state lives in registers: through `d`, every
    // byte stored into the area would make the compiler read it all again.
    Decoder s = d;
    make_room(s);
    while (!s.ended && s.fill <= AREA_LIMIT) {
        if (trace_code == nullptr) {
            fast_steps(s);
            if (s.fill > AREA_LIMIT) {
                break;
            }
        }
        step(s);
    }
    const std::span<const std::uint8_t> run{area + s.handed, area + s.fill};
    s.handed = s.fill;
    d = s;
    return run;
}

DecodeStatus decode_status() {
    DecodeStatus status = d.status;
    status.restored = restored(d);
    return status;
}

}  // namespace lzw
