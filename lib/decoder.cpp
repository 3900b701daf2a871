// The streaming decoder's API: a .bk file in, in chunks of any size, the
// original bytes out. It takes the header, moves the stream into the input
// block, runs the code loop (decode_loop.cpp) a batch at a time, and hands
// out what it restored, by copy or without one.
#include <algorithm>
#include <cstring>

#include "decoder_state.hpp"

namespace {

using namespace mornak;

// A run decodes ahead at least this many bytes, or the output room it was
// given if that is more, before it hands them out.
constexpr std::size_t MIN_BATCH = 64 * 1024;

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

// Slides what is unread in the input block to its start.
void compact_input(DecoderTables& t, DecodeState& s) {
    if (s.in_at != 0) {
        std::memmove(t.in_block, t.in_block + s.in_at, s.in_end - s.in_at);
        s.in_end -= s.in_at;
        s.in_at = 0;
    }
}

// Moves what the caller offers into the input block, behind what is still
// unread there, unless the caller read it there already (through
// mornak_decoder_input_room); the end of the stream is known once a
// finishing caller's input is all in.
void take_input(DecoderTables& t, DecoderStream& stream, mornak_in& in) {
    DecodeState& s = stream.decode;
    if (in.pos != in.size && in.data + in.pos == t.in_block + s.in_end) {
        const std::size_t n = std::min(IN_BLOCK - s.in_end, in.size - in.pos);
        in.pos += n;
        s.in_end += n;
        s.stream_bits += 8 * std::uint64_t{n};
    } else if (in.pos != in.size) {
        compact_input(t, s);
        const std::size_t n = std::min(IN_BLOCK - s.in_end, in.size - in.pos);
        // A move: bytes read into the room may arrive here shifted by the
        // header's, when they began with it.
        std::memmove(t.in_block + s.in_end, in.data + in.pos, n);
        in.pos += n;
        s.in_end += n;
        s.stream_bits += 8 * std::uint64_t{n};
    }
    s.end_known = stream.life.finishing() && in.pos == in.size;
}

// Takes header bytes from `in`; true once all are in and the stream may
// start. A header at fault ends the stream.
bool take_header(DecoderStream& stream, mornak_in& in) {
    const std::size_t n = std::min(HEADER_BYTES - stream.header_got, in.size - in.pos);
    if (n != 0) {
        std::memcpy(stream.header + stream.header_got, in.data + in.pos, n);
        in.pos += n;
        stream.header_got += n;
    }
    DecodeState& s = stream.decode;
    if (stream.header_got < HEADER_BYTES) {
        if (stream.life.finishing() && in.pos == in.size) {
            s.ended = true;
            s.fault = MORNAK_ERROR_HEADER_CUT;
        }
        return false;
    }
    std::uint32_t length = 0;
    const mornak_status header = parse_header(stream.header, length);
    if (header != MORNAK_OK) {
        s.ended = true;
        s.fault = header;
        return false;
    }
    s.expected = length;
    return true;
}

// Decodes on until the area holds more than `limit` bytes (at most
// AREA_LIMIT), the stream has ended, or nothing more can be decided without
// more input. Returns what to say then: MORNAK_MORE (bytes to hand out, or
// more input wanted), MORNAK_OK at an end with no fault found, or the fault.
mornak_status advance(mornak_decoder& d, mornak_in& in, std::size_t limit) {
    DecoderStream& stream = d.s;
    DecodeState& s = stream.decode;
    for (;;) {
        if (s.ended) {
            if (s.fault == MORNAK_OK && in.pos != in.size && !s.segment_ended && !s.stop_at_end) {
                return MORNAK_ERROR_ORDER;  // input after the stream was complete
            }
            return s.fault;
        }
        if (stream.header_got != HEADER_BYTES && !take_header(stream, in)) {
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
        take_input(*d.tables, stream, in);
        decode_batch(*d.tables, s, d.tracing, limit);
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
    // The literals' entries: their length and last byte, which no stream
    // changes (their `pos` is never read).
    for (std::uint32_t c = 0; c < 256; ++c) {
        d->tables->entries[c] = {0, 1, 0};
        d->tables->last_byte[c] = static_cast<std::uint8_t>(c);
    }
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
    decoder->s = DecoderStream{};
    decoder->s.decode.stop_at_end = decoder->stop_at_end;
    decoder->s.life.phase = Phase::taking;
    return MORNAK_OK;
}

mornak_status mornak_decoder_stop_at_end(mornak_decoder* decoder, int stop) {
    if (decoder == nullptr) {
        return MORNAK_ERROR_NULL;
    }
    decoder->stop_at_end = stop != 0;
    return MORNAK_OK;
}

mornak_status mornak_decoder_unused(const mornak_decoder* decoder, void* dst, size_t capacity, size_t* size) {
    if (decoder == nullptr || size == nullptr || (dst == nullptr && capacity != 0)) {
        return MORNAK_ERROR_NULL;
    }
    const DecoderStream& stream = decoder->s;
    const DecodeState& s = stream.decode;
    *size = 0;
    if (stream.life.phase != Phase::done || !s.stop_at_end || s.segment_ended) {
        return MORNAK_ERROR_ORDER;
    }
    // The stream ended on a byte boundary, so what the accumulator holds past
    // it is whole bytes, followed by the unread part of the input block.
    const auto held = static_cast<std::size_t>(s.count / 8);
    const std::size_t block = s.in_end - s.in_at;
    *size = held + block;
    if (capacity < *size) {
        return MORNAK_ERROR_DST_TOO_SMALL;
    }
    auto* out = static_cast<std::uint8_t*>(dst);
    for (std::size_t k = 0; k < held; ++k) {
        out[k] = static_cast<std::uint8_t>(s.acc >> (56 - 8 * k));
    }
    if (block != 0) {
        std::memcpy(out + held, decoder->tables->in_block + s.in_at, block);
    }
    return MORNAK_OK;
}

mornak_status mornak_decoder_run(mornak_decoder* decoder, mornak_in* in, mornak_out* out, int finish) {
    if (decoder == nullptr) {
        return MORNAK_ERROR_NULL;
    }
    mornak_decoder& d = *decoder;
    Lifecycle& life = d.s.life;
    if (const mornak_status status = admit(life, in, check_buffers(in, out), finish); status != MORNAK_OK) {
        return status;
    }
    DecodeState& s = d.s.decode;
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
            return life.conclude(status);
        }
    }
}

mornak_status mornak_decoder_run_direct(mornak_decoder* decoder, mornak_in* in, int finish,
                                        const unsigned char** data, size_t* size) {
    if (decoder == nullptr) {
        return MORNAK_ERROR_NULL;
    }
    mornak_decoder& d = *decoder;
    Lifecycle& life = d.s.life;
    if (data != nullptr && size != nullptr) {
        *data = d.tables->area;
        *size = 0;
    }
    const mornak_status run = data != nullptr && size != nullptr ? MORNAK_OK : MORNAK_ERROR_NULL;
    if (const mornak_status status = admit(life, in, run, finish); status != MORNAK_OK) {
        return status;
    }
    DecodeState& s = d.s.decode;
    if (s.handed == s.fill) {
        make_room(*d.tables, s);
    }
    // Restored bytes are handed out when the area is full or the stream has
    // ended: few large runs, however small the input's chunks.
    const mornak_status status = advance(d, *in, AREA_LIMIT);
    if (s.ended || s.fill > AREA_LIMIT) {
        hand_out(s, *d.tables, data, size);
    }
    return life.conclude(status);
}

mornak_status mornak_decoder_input_room(mornak_decoder* decoder, unsigned char** data, size_t* size) {
    if (decoder == nullptr) {
        return MORNAK_ERROR_NULL;
    }
    mornak_decoder& d = *decoder;
    Lifecycle& life = d.s.life;
    if (life.phase == Phase::failed) {
        return life.error;
    }
    if (data == nullptr || size == nullptr) {
        return life.fail(MORNAK_ERROR_NULL);
    }
    if (life.phase == Phase::unready) {
        return life.fail(MORNAK_ERROR_ORDER);
    }
    DecodeState& s = d.s.decode;
    compact_input(*d.tables, s);
    *data = d.tables->in_block + s.in_end;
    *size = IN_BLOCK - s.in_end;
    return MORNAK_OK;
}

mornak_status mornak_decoder_begin_at(mornak_decoder* decoder, const unsigned char header[MORNAK_HEADER_BYTES],
                                     const mornak_point* point, int one_segment) {
    if (decoder == nullptr) {
        return MORNAK_ERROR_NULL;
    }
    DecoderStream& stream = decoder->s;
    stream = DecoderStream{};
    if (header == nullptr || point == nullptr) {
        return stream.life.fail(MORNAK_ERROR_NULL);
    }
    std::memcpy(stream.header, header, HEADER_BYTES);
    stream.header_got = HEADER_BYTES;
    DecodeState& s = stream.decode;
    std::uint32_t length = 0;
    if (const mornak_status status = parse_header(stream.header, length); status != MORNAK_OK) {
        s.ended = true;
        s.fault = status;
        return stream.life.fail(status);
    }
    const bool unknown = point->content_offset == MORNAK_OFFSET_UNKNOWN;
    if (point->bk_bit < 8 * HEADER_BYTES || (!unknown && point->content_offset > length)) {
        return stream.life.fail(MORNAK_ERROR_ARGUMENT);
    }
    // Bits count from the end of the header; the stream is given from the
    // byte the point lies in.
    s.bit = point->bk_bit / 8 * 8 - 8 * HEADER_BYTES;
    s.stream_bits = s.bit;
    s.lead_bits = static_cast<int>(point->bk_bit % 8);
    s.one_segment = one_segment != 0;
    s.stop_at_end = decoder->stop_at_end;
    s.length_known = !unknown;
    s.expected = unknown ? UINT64_MAX / 2 : length;
    s.window = unknown ? 0 : point->content_offset;
    stream.life.phase = Phase::taking;
    return MORNAK_OK;
}

mornak_status mornak_decoder_position(const mornak_decoder* decoder, mornak_point* point) {
    if (decoder == nullptr || point == nullptr) {
        return MORNAK_ERROR_NULL;
    }
    const DecoderStream& stream = decoder->s;
    if (stream.life.phase == Phase::unready) {
        return MORNAK_ERROR_ORDER;
    }
    const DecodeState& s = stream.decode;
    const bool stream_ended = s.ended && s.fault == MORNAK_OK && !s.segment_ended;
    point->bk_bit = 8 * HEADER_BYTES + (stream_ended && !s.stop_at_end ? s.stream_bits : s.bit);
    point->content_offset = restored(s);
    return MORNAK_OK;
}

mornak_status mornak_decoder_read_at(mornak_decoder* decoder, const void* bk, size_t bk_size,
                                     const mornak_point* points, size_t count, uint64_t offset, void* dst,
                                     size_t length, size_t* got) {
    if (decoder == nullptr) {
        return MORNAK_ERROR_NULL;
    }
    decoder->s = DecoderStream{};
    Lifecycle& life = decoder->s.life;
    if (got == nullptr || (bk == nullptr && bk_size != 0) || points == nullptr || (dst == nullptr && length != 0)) {
        return life.fail(MORNAK_ERROR_NULL);
    }
    *got = 0;
    std::uint64_t content = 0;
    if (const mornak_status header = mornak_content_size(bk, bk_size, &content); header != MORNAK_OK) {
        mornak_decoder_begin(decoder);
        mornak_in in{static_cast<const unsigned char*>(bk), bk_size, 0};
        mornak_out none{nullptr, 0, 0};
        return mornak_decoder_run(decoder, &in, &none, 1);  // the decoder's own fault, at its byte
    }
    // The index must be one of this file's: it starts at the stream's start,
    // goes forward, stays inside the file, and every later point follows a
    // CLEAR_CODE. Only the point restoring starts from is looked at closely.
    if (count == 0 || points[0].bk_bit != 8 * HEADER_BYTES || points[0].content_offset != 0) {
        return life.fail(MORNAK_ERROR_ARGUMENT);
    }
    for (std::size_t k = 1; k < count; ++k) {  // in order, inside the file and its content
        if (points[k].bk_bit <= points[k - 1].bk_bit || points[k].content_offset <= points[k - 1].content_offset ||
            points[k].bk_bit > 8 * std::uint64_t{bk_size} || points[k].content_offset > content) {
            return life.fail(MORNAK_ERROR_ARGUMENT);
        }
    }
    const std::uint64_t end = offset < content ? offset + std::min<std::uint64_t>(content - offset, length) : offset;
    if (end <= offset) {
        life.phase = Phase::done;
        return MORNAK_OK;
    }
    // The last point at or before `offset`; points past it are not read.
    std::size_t low = 0, high = count;
    while (high - low > 1) {
        const std::size_t middle = low + (high - low) / 2;
        if (points[middle].content_offset <= offset) {
            low = middle;
        } else {
            high = middle;
        }
    }
    const mornak_point& from = points[low];
    if (low != 0) {
        const std::uint64_t clear_bit = from.bk_bit - MAX_CODE_BITS;
        bool sound = from.bk_bit <= 8 * std::uint64_t{bk_size} && from.bk_bit >= 8 * HEADER_BYTES + MAX_CODE_BITS &&
                     from.content_offset <= content && from.content_offset > points[low - 1].content_offset;
        if (sound) {
            // The CLEAR_CODE before the point, read bit by bit: it may straddle three bytes.
            const auto* bytes = static_cast<const std::uint8_t*>(bk);
            std::uint32_t code = 0;
            for (std::uint64_t b = clear_bit; b < from.bk_bit; ++b) {
                code = code << 1 | ((std::uint32_t{bytes[b / 8]} >> (7 - b % 8)) & 1u);
            }
            sound = code == CLEAR_CODE;
        }
        if (!sound) {
            return life.fail(MORNAK_ERROR_ARGUMENT);
        }
    }
    if (const mornak_status begun = mornak_decoder_begin_at(decoder, static_cast<const unsigned char*>(bk), &from, 0);
        begun != MORNAK_OK) {
        return begun;
    }
    const std::size_t first_byte = static_cast<std::size_t>(from.bk_bit / 8);
    mornak_in in{static_cast<const unsigned char*>(bk) + first_byte, bk_size - first_byte, 0};
    life.phase = Phase::finishing;
    DecodeState& s = decoder->s.decode;
    auto* out = static_cast<std::uint8_t*>(dst);
    for (;;) {
        make_room(*decoder->tables, s);
        // Batches no larger than what is still wanted, so that a short read
        // restores little past its end.
        const std::uint64_t wanted = end - std::max(offset, restored(s));
        const mornak_status status = advance(
            *decoder, in, static_cast<std::size_t>(std::min<std::uint64_t>(AREA_LIMIT, s.fill + std::min<std::uint64_t>(wanted, MIN_BATCH))));
        // The area holds content bytes [window + handed, window + fill).
        const std::uint64_t lo = std::max(offset, s.window + s.handed);
        const std::uint64_t hi = std::min(end, restored(s));
        if (lo < hi) {
            std::memcpy(out + (lo - offset), decoder->tables->area + (lo - s.window), static_cast<std::size_t>(hi - lo));
            *got = static_cast<std::size_t>(hi - offset);
        }
        s.handed = s.fill;
        if (restored(s) >= end) {
            return life.conclude(MORNAK_OK);
        }
        if (status != MORNAK_MORE) {
            // A sound stream restores the header's length: ending short of
            // `end` is a fault, or an index that is not this file's.
            return life.conclude(status == MORNAK_OK ? MORNAK_ERROR_ARGUMENT : status);
        }
    }
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
    const DecoderStream& stream = decoder->s;
    const DecodeState& s = stream.decode;
    fault->restored = restored(s);
    if (stream.life.phase == Phase::failed && stream.life.error != s.fault) {
        fault->status = stream.life.error;  // the caller's misuse, not the stream's fault
    } else if (s.ended && s.fault != MORNAK_OK) {
        fault->status = s.fault;
        fault->code = s.fault_code;
        // The one place a fault's byte is worked out: the header's faults
        // lie in it, the stream's at the bit where they were found.
        switch (s.fault) {
            case MORNAK_ERROR_HEADER_CUT:
                fault->at_byte = stream.header_got;
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
