// The decoder's context, shared by its stream API (decoder.cpp), its code
// loop (decode_loop.cpp) and the test hooks (internal.hpp).
//
// The decoder restores into an area that keeps a window of recent output
// behind the bytes it hands out: a dictionary string is copied from where it
// last appeared in the output, and only strings older than the window are
// rebuilt from their entries. The stream arrives in chunks of any size; it is
// copied into an input block, and a code is only taken once enough of the
// stream is in hand to decide everything that depends on where it ends.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format.hpp"
#include "lifecycle.hpp"
#include "mornak.h"
#include "tables_memory.hpp"

namespace mornak {

// The longest string a code can stand for: a chain through every entry.
inline constexpr std::size_t MAX_STRING = CODE_LIMIT;
inline constexpr std::size_t IN_BLOCK = 64 * 1024;
// Restored bytes collect in the area; once it is nearly full, all but the
// last KEEP_BYTES have been handed out and the rest slides to its start,
// where strings are still copied from. The area takes what the tables block
// leaves beside the other tables: the more output it keeps, the fewer
// strings have to be rebuilt entry by entry.
inline constexpr std::size_t AREA_BYTES = 1408u << 10;
inline constexpr std::size_t KEEP_BYTES = 704u << 10;
inline constexpr std::size_t COPY_CHUNK = 16;  // strings are copied in chunks, which may overrun
inline constexpr std::size_t AREA_LIMIT = AREA_BYTES - MAX_STRING - COPY_CHUNK;

// A dictionary string: where its bytes last appeared in the output
// (absolute offset), its length, and the entry it extends by one byte, whose
// last byte is kept apart since only rebuilding a string reads it. A string
// is at most 65279 bytes long: a chain through every entry.
struct Entry {
    std::uint32_t pos;
    std::uint16_t length;
    std::uint16_t prefix;
};

struct DecoderTables {
    Entry entries[CODE_LIMIT];
    std::uint8_t last_byte[CODE_LIMIT];
    std::uint8_t area[AREA_BYTES];
    std::uint8_t in_block[IN_BLOCK];
};
static_assert(sizeof(DecoderTables) <= TABLES_BYTES);

// Called, when set, for every code read: its value, the width it was read
// at, the stream bit just after it, the bytes it stands for (0 for
// CLEAR_CODE and END_CODE) and the next entry number after it.
using CodeTrace = void (*)(void* user, std::uint32_t code, int width, std::uint64_t end_bit, std::uint32_t length,
                           std::uint32_t next_entry);

// Where decoding stands. Bit positions count from the first bit after the
// header. A fresh DecodeState is a stream's start: an empty dictionary at
// 11 bits, nothing received.
struct DecodeState {
    std::uint64_t stream_bits = 0;  // bits of the stream received so far; all of them once end_known
    bool end_known = false;         // the caller said no more comes
    std::uint64_t bit = 0;          // stream bits taken so far
    std::uint64_t acc = 0;          // `count` bits not yet taken, left-aligned
    int count = 0;
    std::size_t in_at = 0, in_end = 0;  // the unread part of the input block
    std::uint64_t expected = 0;     // the header's length
    std::uint64_t window = 0;       // absolute output offset of area[0]
    std::size_t fill = 0;           // area bytes in use
    std::size_t handed = 0;         // area bytes already handed out
    int width = INITIAL_CODE_BITS;
    std::uint32_t next = FIRST_FREE_CODE;  // number of the next entry
    bool fresh = true;              // no data code since the start or the last CLEAR_CODE
    std::uint32_t previous = 0;     // the last data code
    std::uint64_t previous_pos = 0;
    std::uint32_t previous_length = 0;
    bool ended = false;             // END_CODE checked, or a fault
    mornak_status fault = MORNAK_OK;
    std::uint64_t fault_bit = 0;    // stream bit where the fault was found
    std::uint32_t fault_code = 0;
    // A stream begun at a restart point (mornak_decoder_begin_at):
    int lead_bits = 0;              // bits of the first byte given that belong to the code before the point
    bool one_segment = false;       // ends, without a fault, right after the next CLEAR_CODE
    bool segment_ended = false;     // it did
    bool length_known = true;       // else `expected` is out of reach and the length is the caller's to check
    // A stream that ends at its own end (mornak_decoder_stop_at_end): after
    // END_CODE and the filler bits the writer stored, whatever follows is
    // not the stream's; once ended, `bit` is that byte-aligned end.
    bool stop_at_end = false;
};

// Bytes restored so far.
inline std::uint64_t restored(const DecodeState& s) { return s.window + s.fill; }

// A setting of the tests' (internal.hpp), kept from stream to stream.
struct Tracing {
    CodeTrace trace = nullptr;
    void* user = nullptr;
};

// Everything about one stream: begin replaces it whole.
struct DecoderStream {
    Lifecycle life;
    std::uint8_t header[HEADER_BYTES] = {};
    std::size_t header_got = 0;  // header bytes received
    DecodeState decode;
};

// The code loop (decode_loop.cpp): decodes until the area holds more than
// `limit` bytes (at most AREA_LIMIT), the stream has ended, or its end is
// unknown and too little of it is in hand.
void decode_batch(DecoderTables& t, DecodeState& s, const Tracing& tracing, std::size_t limit);

}  // namespace mornak

// The tables, made at create; the settings, which begin keeps; the stream.
struct mornak_decoder {
    mornak::DecoderTables* tables = nullptr;
    mornak::Tracing tracing;
    bool stop_at_end = false;  // each stream's DecodeState::stop_at_end
    mornak::DecoderStream s;
};
