// The decoder's context, shared by its streaming calls and the test hooks.
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

// Where decoding stands. Bit positions count from the first bit after the header.
struct DecodeState {
    std::uint64_t stream_bits;  // bits of the stream received so far; all of them once end_known
    bool end_known;             // the caller said no more comes
    std::uint64_t bit;          // stream bits taken so far
    std::uint64_t acc;          // `count` bits not yet taken, left-aligned
    int count;
    std::size_t in_at, in_end;  // the unread part of the input block
    std::uint64_t expected;     // the header's length
    std::uint64_t window;       // absolute output offset of area[0]
    std::size_t fill;           // area bytes in use
    std::size_t handed;         // area bytes already handed out
    int width;
    std::uint32_t next;         // number of the next entry
    bool fresh;                 // no data code since the start or the last CLEAR_CODE
    std::uint32_t previous;     // the last data code
    std::uint64_t previous_pos;
    std::uint32_t previous_length;
    bool ended;                 // END_CODE checked, or a fault
    mornak_status fault;
    std::uint64_t fault_bit;    // stream bit where the fault was found
    std::uint32_t fault_code;
};

}  // namespace mornak

struct mornak_decoder {
    mornak::DecoderTables* tables = nullptr;
    mornak::DecodeState s{};
    bool begun = false;
    bool finishing = false;      // a run with finish set has come
    mornak_status misuse = MORNAK_OK;  // a sticky error of the caller's
    std::uint8_t header[mornak::HEADER_BYTES] = {};
    std::size_t header_got = 0;  // header bytes received
    mornak::CodeTrace trace = nullptr;
    void* trace_user = nullptr;
};
