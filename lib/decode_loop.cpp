// The decoder's code loop: takes codes from the input block and restores
// their strings into the area. A code or an ending the encoder never writes
// (a code that names no entry yet, a CLEAR_CODE before the dictionary is
// full, closing codes out of place) ends the stream with a fault at the bit
// where it was found, which may lie past the damage. Damage that still reads
// as codes the encoder could write restores into other bytes, and nothing
// here can tell: a .bk file has no checksum. Two paths: step() takes any
// code; fast_steps() takes the common ones (a literal, or a string still in
// the area) in a loop of its own, and leaves everything else to step(). The
// stream API around it is decoder.cpp.
#include <algorithm>
#include <array>
#include <cstring>

#include "decoder_state.hpp"

namespace {

using namespace mornak;

// Closing codes at 17 bits: END_CODE and three zero codes.
constexpr std::uint64_t CLOSING_BITS_AT_17 = 4 * 17;
// Stream bits a code needs in hand, from its start, while the end of the
// stream is unknown: with that many, nothing a step decides depends on where
// the stream ends. After a 16-bit code, whether the closing codes are 17 bits
// wide is decided by whether at most 68 bits follow; END_CODE is followed by
// at most 3 * 17 bits of filler, fewer than the 69 in hand.
constexpr std::uint64_t LOOKAHEAD_BITS = MAX_CODE_BITS + CLOSING_BITS_AT_17 + 1;
// The first code of an empty input as earlier converters wrote it: the
// end-of-input value in place of a byte, all 11 bits set.
constexpr std::uint32_t OLD_EMPTY_MARK = (1u << INITIAL_CODE_BITS) - 1;


void fail(DecodeState& s, mornak_status fault, std::uint64_t at_bit, std::uint32_t code = 0) {
    s.ended = true;
    s.fault = fault;
    s.fault_bit = at_bit;
    s.fault_code = code;
}

std::uint64_t bits_left(const DecodeState& s) { return s.stream_bits - s.bit; }

// Tops the accumulator up to at least 57 bits, or to what the input block holds.
inline void refill(const DecoderTables& t, DecodeState& s) {
    if (s.in_end - s.in_at >= 8) {
        // Eight bytes at once. The bytes that do not wholly fit leave their
        // top bits in the accumulator, and are taken again next time, when
        // the same bits land on the same places.
        std::uint64_t word;
        std::memcpy(&word, t.in_block + s.in_at, 8);
        s.acc |= __builtin_bswap64(word) >> s.count;
        const int whole = (63 - s.count) >> 3;
        s.in_at += static_cast<std::size_t>(whole);
        s.count += 8 * whole;
        return;
    }
    while (s.count <= 56 && s.in_at != s.in_end) {
        s.acc |= std::uint64_t{t.in_block[s.in_at++]} << (56 - s.count);
        s.count += 8;
    }
}

// The next `bits` bits without taking them; the caller made sure they are there.
std::uint32_t peek(const DecodeState& s, int bits) { return static_cast<std::uint32_t>(s.acc >> (64 - bits)); }

void skip(DecodeState& s, int bits) {
    s.acc <<= bits;
    s.count -= bits;
    s.bit += static_cast<std::uint64_t>(bits);
}

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

// Writes the string of dictionary entry `code` at the end of the output: a
// copy of its last appearance while that is in the area, else rebuilt from
// the entries. `length` includes, for the entry being made (code == next),
// the byte that repeats the previous string's first.
void emit(DecoderTables& t, DecodeState& s, std::uint32_t code, std::uint32_t length) {
    std::uint8_t* out = t.area + s.fill;
    const bool making = code == s.next;
    const std::uint64_t from = making ? s.previous_pos : t.entries[code].pos;
    if (from >= s.window) {
        copy_string(out, t.area + (from - s.window), length);
        if (making) {
            out[length - 1] = out[0];
        }
    } else {
        // Older than the window: rebuilt from its end, entry by entry.
        std::uint32_t c = making ? s.previous : code;
        std::uint32_t i = length;
        if (making) {
            out[--i] = t.area[s.previous_pos - s.window];  // the previous string's first byte
        }
        // Back along the prefixes until one whose string is still in the
        // area gives the rest at once: short prefixes are used often, so
        // their last appearance is usually recent.
        while (i > 0) {
            if (c >= FIRST_FREE_CODE && t.entries[c].pos >= s.window) {
                std::memcpy(out, t.area + (t.entries[c].pos - s.window), i);  // string c is exactly i bytes
                break;
            }
            out[--i] = t.last_byte[c];
            c = t.entries[c].prefix;
        }
    }
    if (code < s.next) {
        t.entries[code].pos = static_cast<std::uint32_t>(restored(s));
    }
}

void fresh_dictionary(DecodeState& s) {
    s.width = INITIAL_CODE_BITS;
    s.next = FIRST_FREE_CODE;
    s.fresh = true;
}

// Bits of the filler after END_CODE (read at `width`, ending at stream bit
// `after`) that the writer stored: three zero codes up to the last whole byte.
std::uint64_t stored_filler(std::uint64_t after, int width) {
    return (after + 3 * static_cast<std::uint64_t>(width)) / 8 * 8 - after;
}

// Checks what follows END_CODE: three zero codes at its width, of which the
// writer never stored the last (fewer than 8) bits, and nothing after them.
// Decided only once the end of the stream is known, or the bits in hand
// already run past the filler. A stream that stops at its end needs only
// the stored filler in hand, and leaves what follows it untaken.
void check_closing(DecodeState& s, std::uint64_t end_code_bit) {
    const std::uint64_t rest = bits_left(s);
    const std::uint64_t stored = stored_filler(s.bit, s.width);
    if (rest > stored && !s.stop_at_end) {
        fail(s, MORNAK_ERROR_TRAILING_BYTES, s.bit + stored);  // the first byte the writer would not have stored
        return;
    }
    if (rest < stored) {
        fail(s, MORNAK_ERROR_SHORT_FILLER, s.stream_bits);
        return;
    }
    // Up to 51 bits: all of them are in the accumulator, and all are checked.
    if (stored != 0 && (s.acc >> (64 - stored)) != 0) {
        fail(s, MORNAK_ERROR_FILLER_NOT_ZERO, s.bit);
        return;
    }
    if (s.length_known && restored(s) != s.expected) {
        fail(s, MORNAK_ERROR_SHORTER_THAN_HEADER, end_code_bit);
        return;
    }
    if (s.stop_at_end && stored != 0) {
        skip(s, static_cast<int>(stored));
    }
    s.ended = true;
}

// Whether the 17 bits after the code just read may be END_CODE at 17 bits,
// which only the stream's end decides: it does when at most the closing
// codes follow, or, for a stream that stops at its end, when the header's
// length is restored (another code would restore past it).
bool closing_may_follow(const DecodeState& s) {
    if (s.stop_at_end && s.length_known) {
        return restored(s) == s.expected && bits_left(s) >= 17;
    }
    return bits_left(s) <= CLOSING_BITS_AT_17 && bits_left(s) >= 17;
}

// Right after the code that leaves one 16-bit code: if the input ended
// there, the closing codes are 17 bits wide. Reads the same bits however
// often it is called before the next code.
void decide_closing_width(const DecoderTables& t, DecodeState& s) {
    if (s.width == MAX_CODE_BITS && s.next == CODE_LIMIT - 1 && closing_may_follow(s)) {
        refill(t, s);
        if (s.count >= 17 && peek(s, 17) == END_CODE) {
            s.width = 17;
        }
    }
}

// For a stream that stops at its end, with fewer than LOOKAHEAD_BITS in
// hand and more input perhaps to come: whether everything the next step
// reads is in hand (the code; after END_CODE, the stored filler; after the
// code that leaves one 16-bit code, the 17 bits closing_may_follow reads).
bool step_in_hand(const DecoderTables& t, DecodeState& s) {
    const int width = s.width;
    if (!s.stop_at_end || !s.length_known || bits_left(s) < static_cast<std::uint64_t>(width)) {
        return false;
    }
    if (s.count < width) {
        refill(t, s);
    }
    const auto code_bits = static_cast<std::uint64_t>(width);
    if (peek(s, width) == END_CODE) {
        return bits_left(s) - code_bits >= stored_filler(s.bit + code_bits, width);
    }
    if (width == MAX_CODE_BITS && s.next + (s.fresh ? 0 : 1) == CODE_LIMIT - 1) {
        return bits_left(s) >= code_bits + 17;
    }
    return true;
}

// Reads and acts on one code. Called only with LOOKAHEAD_BITS in hand, or
// once the end of the stream is known.
void step(const Tracing& tracing, DecoderTables& t, DecodeState& s) {
    const int width = s.width;
    if (bits_left(s) < static_cast<std::uint64_t>(width)) {
        fail(s, MORNAK_ERROR_NO_END_CODE, s.stream_bits);
        return;
    }
    if (s.count < width) {
        refill(t, s);  // every bit left is in the input block, so this gives `width` bits
    }
    const std::uint64_t start = s.bit;
    const std::uint32_t code = peek(s, width);
    skip(s, width);
    std::uint32_t length;
    if (code < 256) {
        length = 1;
    } else if (code >= FIRST_FREE_CODE && code < s.next) {  // fresh, next is FIRST_FREE_CODE
        length = t.entries[code].length;
    } else if (code == s.next && !s.fresh && s.next < CODE_LIMIT) {
        length = s.previous_length + 1;  // the entry being made: the previous string and its first byte
    } else if (code == END_CODE) {
        if (tracing.trace != nullptr) {
            tracing.trace(tracing.user, code, width, s.bit, 0, s.next);
        }
        if (s.count < 64 - 8) {
            refill(t, s);  // the filler, at most 3 * 17 bits, is then in hand
        }
        check_closing(s, start);
        return;
    } else if (code == CLEAR_CODE) {
        if (width != MAX_CODE_BITS || s.next < CODE_LIMIT - 1) {
            fail(s, MORNAK_ERROR_MISPLACED_CLEAR, start, code);
            return;
        }
        fresh_dictionary(s);
        if (tracing.trace != nullptr) {
            tracing.trace(tracing.user, code, width, s.bit, 0, s.next);
        }
        if (s.one_segment) {
            // The segment ends here, unless the stream does: with no room
            // for a next code, restoring on would find the stream cut.
            if (s.end_known && bits_left(s) < static_cast<std::uint64_t>(INITIAL_CODE_BITS)) {
                fail(s, MORNAK_ERROR_NO_END_CODE, s.stream_bits);
                return;
            }
            s.ended = true;
            s.segment_ended = true;
        }
        return;
    } else if (code == OLD_EMPTY_MARK && start == 0 && s.expected == 0) {
        return;  // an empty input as earlier converters wrote it
    } else {
        fail(s, MORNAK_ERROR_UNDEFINED_CODE, start, code);
        return;
    }
    if (restored(s) + length > s.expected) {
        fail(s, MORNAK_ERROR_LONGER_THAN_HEADER, start, code);
        return;
    }
    const std::uint64_t pos = restored(s);
    if (code < 256) {
        t.area[s.fill] = static_cast<std::uint8_t>(code);
    } else {
        emit(t, s, code, length);
    }
    // The entry the encoder made when it wrote the previous code: that
    // string plus the first byte of this one.
    if (!s.fresh && s.next < CODE_LIMIT) {
        t.entries[s.next] = {static_cast<std::uint32_t>(s.previous_pos),
                             static_cast<std::uint16_t>(s.previous_length + 1),
                             static_cast<std::uint16_t>(s.previous)};
        t.last_byte[s.next] = t.area[s.fill];
        ++s.next;
    }
    s.fill += length;
    s.previous = code;
    s.previous_pos = pos;
    s.previous_length = length;
    s.fresh = false;
    if (tracing.trace != nullptr) {
        tracing.trace(tracing.user, code, width, s.bit, length, s.next);
    }
    if (s.next >= (1u << width) - 1) {
        if (width < MAX_CODE_BITS) {
            ++s.width;
        } else {
            decide_closing_width(t, s);
        }
    }
}

// Decodes codes while nothing unusual comes: a literal or a string still in
// the area, with room for it below `limit` and within the header's length,
// 16 bytes left in the input block and 128 bits before the stream in hand
// ends (so no width is decided by the end), and the dictionary not fresh.
// Stops before the first code it does not take, which step() then takes. The
// state lives in locals the compiler can keep in registers: through `s`,
// each byte stored would make it read the state again.
void fast_steps(DecoderTables& t, DecodeState& s, std::size_t limit) {
    if (s.fresh || s.in_end < 16) {
        return;
    }
    // The stream bit at in_at: the accumulator holds the bits up to there.
    // Bits taken are then tracked through in_at and count alone.
    const std::uint64_t held = s.bit + static_cast<std::uint64_t>(s.count);
    if (held + 128 + 64 > s.stream_bits) {
        return;
    }
    // At most in_end - 16, so it fits a size_t of any width.
    const auto in_limit = static_cast<std::size_t>(
        std::min<std::uint64_t>(s.in_end - 16, s.in_at + (s.stream_bits - held - 128) / 8));
    const std::uint64_t window = s.window;
    const std::uint64_t fill_limit = std::min<std::uint64_t>(limit, s.expected - window);
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
        // The entry the previous code made: its string plus this one's first byte.
        const std::uint64_t at = window + fill;
        const std::uint64_t made_pos = previous_pos;
        const std::uint32_t made_from = previous;
        previous = code;
        previous_pos = at;
        fill += length;
        if (next < CODE_LIMIT) {
            t.entries[next] = {static_cast<std::uint32_t>(made_pos), static_cast<std::uint16_t>(at - made_pos + 1),
                               static_cast<std::uint16_t>(made_from)};
            t.last_byte[next] = first;
            ++next;
            if (next >= (1u << width) - 1) {
                if (width < MAX_CODE_BITS) {
                    ++width;
                } else {
                    break;  // one 16-bit code left: decide_closing_width looks at what follows
                }
            }
        }
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

namespace mornak {

void decode_batch(DecoderTables& t, DecodeState& state, const Tracing& tracing, std::size_t limit) {
    // A local copy, so that the state lives in registers: through a
    // reference, every byte stored into the area would make the compiler
    // read it all again (a byte store may alias anything).
    DecodeState s = state;
    if (s.lead_bits != 0) {
        // A stream begun at a restart point inside a byte: the bits before it
        // are the code that ended the segment before.
        if (bits_left(s) < static_cast<std::uint64_t>(s.lead_bits)) {
            if (s.end_known) {
                fail(s, MORNAK_ERROR_NO_END_CODE, s.stream_bits);
            }
            state = s;
            return;
        }
        refill(t, s);
        skip(s, s.lead_bits);
        s.lead_bits = 0;
    }
    const CodeTrace trace = tracing.trace;
    bool fast_tried = false;
    while (!s.ended && s.fill <= limit && (s.end_known || bits_left(s) >= LOOKAHEAD_BITS || step_in_hand(t, s))) {
        if (trace == nullptr && !fast_tried) {
            fast_steps(t, s, limit);
            decide_closing_width(t, s);
            fast_tried = true;
            continue;
        }
        fast_tried = false;
        step(tracing, t, s);
    }
    state = s;
}

}  // namespace mornak
