// The streaming decoder: a .bk file in, the original bytes out, exactly as
// strict as the encoder is in what it writes. Anything else is damage,
// reported with the byte where it was found; nothing is ever decoded
// silently into other bytes.
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
// A run decodes ahead at least this many bytes, or the output room it was
// given if that is more, before it hands them out.
constexpr std::size_t MIN_BATCH = 64 * 1024;

std::uint64_t restored(const DecodeState& s) { return s.window + s.fill; }

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

// Slides the last KEEP_BYTES of the area to its start once the area has no
// room left for the longest string. Everything in the area is handed out.
void make_room(DecoderTables& t, DecodeState& s) {
    if (s.fill <= AREA_LIMIT) {
        return;
    }
    const std::size_t drop = s.fill - KEEP_BYTES;
    std::memmove(t.area, t.area + drop, KEEP_BYTES);
    s.window += drop;
    s.fill = KEEP_BYTES;
    s.handed = KEEP_BYTES;
}

void fresh_dictionary(DecodeState& s) {
    s.width = INITIAL_CODE_BITS;
    s.next = FIRST_FREE_CODE;
    s.fresh = true;
}

// Checks what follows END_CODE: three zero codes at its width, of which the
// writer never stored the last (fewer than 8) bits, and nothing after them.
// Decided only once the end of the stream is known, or the bits in hand
// already run past the filler.
void check_closing(DecodeState& s, std::uint64_t end_code_bit) {
    const std::uint64_t rest = bits_left(s);
    const auto filler = static_cast<std::uint64_t>(3 * s.width);
    if (rest > filler) {
        fail(s, MORNAK_ERROR_TRAILING_BYTES, (s.bit + filler) / 8 * 8);  // the first byte the writer would not have stored
        return;
    }
    if (rest + 8 <= filler) {
        fail(s, MORNAK_ERROR_SHORT_FILLER, s.stream_bits);
        return;
    }
    // Up to 51 bits: all of them are in the accumulator, and all are checked.
    if (rest != 0 && (s.acc >> (64 - rest)) != 0) {
        fail(s, MORNAK_ERROR_FILLER_NOT_ZERO, s.bit);
        return;
    }
    if (restored(s) != s.expected) {
        fail(s, MORNAK_ERROR_SHORTER_THAN_HEADER, end_code_bit);
        return;
    }
    s.ended = true;
}

// Reads and acts on one code. Called only with LOOKAHEAD_BITS in hand, or
// once the end of the stream is known.
void step(mornak_decoder& d, DecoderTables& t, DecodeState& s) {
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
        if (d.trace != nullptr) {
            d.trace(d.trace_user, code, width, s.bit, 0, s.next);
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
        if (d.trace != nullptr) {
            d.trace(d.trace_user, code, width, s.bit, 0, s.next);
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
    if (d.trace != nullptr) {
        d.trace(d.trace_user, code, width, s.bit, length, s.next);
    }
    if (s.next >= (1u << width) - 1) {
        if (width < MAX_CODE_BITS) {
            ++s.width;
        } else if (s.next == CODE_LIMIT - 1 && bits_left(s) <= CLOSING_BITS_AT_17 && bits_left(s) >= 17) {
            // One 16-bit code was left when the input ended, and the closing
            // codes are then 17 bits wide; only the end of the stream tells.
            refill(t, s);
            if (s.count >= 17 && peek(s, 17) == END_CODE) {
                s.width = 17;
            }
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

// Decodes until the area holds more than `limit` bytes, the stream has
// ended, or its end is unknown and too little of it is in hand. `s` is a
// local copy, so that the state lives in registers: through the context,
// every byte stored into the area would make the compiler read it all again.
void decode_batch(mornak_decoder& d, DecodeState& s, std::size_t limit) {
    DecoderTables& t = *d.tables;
    bool fast_tried = false;
    while (!s.ended && s.fill <= limit && (s.end_known || bits_left(s) >= LOOKAHEAD_BITS)) {
        if (d.trace == nullptr && !fast_tried) {
            fast_steps(t, s, limit);
            fast_tried = true;
            continue;
        }
        fast_tried = false;
        step(d, t, s);
    }
}

// Slides what is unread in the input block to its start.
void compact_input(mornak_decoder& d) {
    DecodeState& s = d.s;
    if (s.in_at != 0) {
        std::memmove(d.tables->in_block, d.tables->in_block + s.in_at, s.in_end - s.in_at);
        s.in_end -= s.in_at;
        s.in_at = 0;
    }
}

// Moves what the caller offers into the input block, behind what is still
// unread there, unless the caller read it there already (through
// mornak_decoder_input_room); the end of the stream is known once a
// finishing caller's input is all in.
void take_input(mornak_decoder& d, mornak_in& in) {
    DecodeState& s = d.s;
    std::uint8_t* const block = d.tables->in_block;
    if (in.pos != in.size && in.data + in.pos == block + s.in_end) {
        const std::size_t n = std::min(IN_BLOCK - s.in_end, in.size - in.pos);
        in.pos += n;
        s.in_end += n;
        s.stream_bits += 8 * std::uint64_t{n};
    } else if (in.pos != in.size) {
        compact_input(d);
        const std::size_t n = std::min(IN_BLOCK - s.in_end, in.size - in.pos);
        // A move: bytes read into the room may arrive here shifted by the
        // header's, when they began with it.
        std::memmove(block + s.in_end, in.data + in.pos, n);
        in.pos += n;
        s.in_end += n;
        s.stream_bits += 8 * std::uint64_t{n};
    }
    s.end_known = d.finishing && in.pos == in.size;
}

// Takes header bytes from `in`; true once all are in and the stream may start.
bool take_header(mornak_decoder& d, mornak_in& in) {
    const std::size_t n = std::min(HEADER_BYTES - d.header_got, in.size - in.pos);
    if (n != 0) {
        std::memcpy(d.header + d.header_got, in.data + in.pos, n);
        in.pos += n;
        d.header_got += n;
    }
    DecodeState& s = d.s;
    if (d.header_got < HEADER_BYTES) {
        if (d.finishing && in.pos == in.size) {
            s.ended = true;
            s.fault = MORNAK_ERROR_HEADER_CUT;
        }
        return false;
    }
    std::uint32_t length = 0;
    const mornak_status header = parse_header(d.header, length);
    if (header != MORNAK_OK) {
        s.ended = true;
        s.fault = header;
        return false;
    }
    s.expected = length;
    return true;
}

bool valid(const unsigned char* data, std::size_t size, std::size_t pos) {
    return (data != nullptr || size == 0) && pos <= size;
}

mornak_status misuse(mornak_decoder& d, mornak_status error) {
    d.misuse = error;
    return error;
}

// The checks every run makes of its caller; MORNAK_OK when the call may go on.
mornak_status check_call(mornak_decoder& d, const mornak_in* in, int finish) {
    if (d.misuse != MORNAK_OK) {
        return d.misuse;
    }
    if (in == nullptr) {
        return misuse(d, MORNAK_ERROR_NULL);
    }
    if (!valid(in->data, in->size, in->pos)) {
        return misuse(d, in->pos > in->size ? MORNAK_ERROR_ARGUMENT : MORNAK_ERROR_NULL);
    }
    if (!d.begun || (d.finishing && finish == 0)) {
        return misuse(d, MORNAK_ERROR_ORDER);
    }
    d.finishing = finish != 0;
    return MORNAK_OK;
}

// Decodes on until the area holds more than `limit` bytes (at most
// AREA_LIMIT), the stream has ended, or nothing more can be decided without
// more input. Returns what to say then: MORNAK_MORE (bytes to hand out, or
// more input wanted), MORNAK_OK at a sound end, or the fault.
mornak_status advance(mornak_decoder& d, mornak_in& in, std::size_t limit) {
    DecodeState& s = d.s;
    for (;;) {
        if (s.ended) {
            if (s.fault == MORNAK_OK && in.pos != in.size) {
                return misuse(d, MORNAK_ERROR_ORDER);  // input after the stream was complete
            }
            return s.fault;
        }
        if (d.header_got != HEADER_BYTES && !take_header(d, in)) {
            if (s.ended) {
                continue;
            }
            return MORNAK_MORE;
        }
        if (s.fill > limit) {
            return MORNAK_MORE;
        }
        const std::uint64_t bit_before = s.bit;
        const std::size_t pos_before = in.pos;
        take_input(d, in);
        DecodeState local = s;
        decode_batch(d, local, limit);
        s = local;
        if (!s.ended && s.bit == bit_before && in.pos == pos_before) {
            return MORNAK_MORE;  // nothing more can be decided without more input
        }
    }
}

// Hands out what waits in the area, as a run of the caller's.
void hand_out(DecodeState& s, const DecoderTables& t, const unsigned char** data, size_t* size) {
    *data = t.area + s.handed;
    *size = s.fill - s.handed;
    s.handed = s.fill;
}

}  // namespace

extern "C" {

mornak_decoder* mornak_decoder_create(void) {
    void* tables = allocate_tables();
    if (tables == nullptr) {
        return nullptr;
    }
    auto* d = new_context<mornak_decoder>();
    if (d == nullptr) {
        free_tables(tables);
        return nullptr;
    }
    d->tables = static_cast<DecoderTables*>(tables);
    return d;
}

void mornak_decoder_free(mornak_decoder* decoder) {
    if (decoder != nullptr) {
        free_tables(decoder->tables);
        delete_context(decoder);
    }
}

mornak_status mornak_decoder_begin(mornak_decoder* decoder) {
    if (decoder == nullptr) {
        return MORNAK_ERROR_NULL;
    }
    mornak_decoder& d = *decoder;
    d.s = DecodeState{};
    d.s.fault = MORNAK_OK;
    fresh_dictionary(d.s);
    d.begun = true;
    d.finishing = false;
    d.misuse = MORNAK_OK;
    d.header_got = 0;
    for (std::uint32_t c = 0; c < 256; ++c) {
        d.tables->entries[c] = {0, 1, 0};
        d.tables->last_byte[c] = static_cast<std::uint8_t>(c);
    }
    return MORNAK_OK;
}

mornak_status mornak_decoder_run(mornak_decoder* decoder, mornak_in* in, mornak_out* out, int finish) {
    if (decoder == nullptr) {
        return MORNAK_ERROR_NULL;
    }
    mornak_decoder& d = *decoder;
    if (out == nullptr) {
        return misuse(d, MORNAK_ERROR_NULL);
    }
    if (!valid(out->data, out->size, out->pos)) {
        return misuse(d, out->pos > out->size ? MORNAK_ERROR_ARGUMENT : MORNAK_ERROR_NULL);
    }
    if (const mornak_status status = check_call(d, in, finish); status != MORNAK_OK) {
        return status;
    }
    DecodeState& s = d.s;
    for (;;) {
        // Restored bytes go out first, also those before a fault.
        const std::size_t n = std::min(s.fill - s.handed, out->size - out->pos);
        if (n != 0) {
            std::memcpy(out->data + out->pos, d.tables->area + s.handed, n);
            out->pos += n;
            s.handed += n;
        }
        if (s.handed != s.fill) {
            return MORNAK_MORE;
        }
        // With everything handed out, decode a batch about as large as the
        // room left: no more input is taken than that needs.
        make_room(*d.tables, s);
        const mornak_status status =
            advance(d, *in, std::min(AREA_LIMIT, s.fill + std::max(MIN_BATCH, out->size - out->pos)));
        if (s.handed == s.fill) {
            return status;
        }
    }
}

mornak_status mornak_decoder_run_direct(mornak_decoder* decoder, mornak_in* in, int finish,
                                        const unsigned char** data, size_t* size) {
    if (decoder == nullptr) {
        return MORNAK_ERROR_NULL;
    }
    mornak_decoder& d = *decoder;
    if (data == nullptr || size == nullptr) {
        return misuse(d, MORNAK_ERROR_NULL);
    }
    *data = d.tables->area;
    *size = 0;
    if (const mornak_status status = check_call(d, in, finish); status != MORNAK_OK) {
        return status;
    }
    DecodeState& s = d.s;
    if (s.handed == s.fill) {
        make_room(*d.tables, s);
    }
    // Restored bytes are handed out when the area is full or the stream has
    // ended: few large runs, however small the input's chunks.
    const mornak_status status = advance(d, *in, AREA_LIMIT);
    if (s.ended || s.fill > AREA_LIMIT) {
        hand_out(s, *d.tables, data, size);
    }
    return status;
}

mornak_status mornak_decoder_input_room(mornak_decoder* decoder, unsigned char** data, size_t* size) {
    if (decoder == nullptr) {
        return MORNAK_ERROR_NULL;
    }
    mornak_decoder& d = *decoder;
    if (data == nullptr || size == nullptr) {
        return misuse(d, MORNAK_ERROR_NULL);
    }
    if (d.misuse != MORNAK_OK) {
        return d.misuse;
    }
    if (!d.begun) {
        return misuse(d, MORNAK_ERROR_ORDER);
    }
    compact_input(d);
    *data = d.tables->in_block + d.s.in_end;
    *size = IN_BLOCK - d.s.in_end;
    return MORNAK_OK;
}

void mornak_decoder_fault(const mornak_decoder* decoder, mornak_fault* fault) {
    if (fault == nullptr) {
        return;
    }
    *fault = mornak_fault{MORNAK_OK, 0, 0, 0};
    if (decoder == nullptr) {
        fault->status = MORNAK_ERROR_NULL;
        return;
    }
    const mornak_decoder& d = *decoder;
    const DecodeState& s = d.s;
    fault->restored = restored(s);
    if (d.misuse != MORNAK_OK) {
        fault->status = d.misuse;
    } else if (s.ended && s.fault != MORNAK_OK) {
        fault->status = s.fault;
        fault->code = s.fault_code;
        switch (s.fault) {
            case MORNAK_ERROR_HEADER_CUT:
                fault->at_byte = d.header_got;
                break;
            case MORNAK_ERROR_NOT_BK:
                fault->at_byte = 0;
                break;
            case MORNAK_ERROR_NEGATIVE_LENGTH:
                fault->at_byte = 4;
                break;
            default:
                fault->at_byte = HEADER_BYTES + s.fault_bit / 8;
                break;
        }
    }
}

}  // extern "C"
