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
            if (s.fault == MORNAK_OK && in.pos != in.size) {
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
    decoder->s.life.phase = Phase::taking;
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
