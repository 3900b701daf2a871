// LZW decoder: a code stream in, the original bytes out, exactly as strict as
// the encoder is in what it writes. Anything else is damage, reported with
// the bit where it was found; nothing is ever decoded silently into other
// bytes.
//
// The decoder pulls the stream from a Source and hands out the bytes it
// restores in runs, keeping a window of recent output behind them: a
// dictionary string is copied from where it last appeared in the output,
// and only strings older than the window are rebuilt from their entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace lzw {

// Fills `into` with the next stream bytes; returns how many, 0 at the end.
using Source = std::size_t (*)(std::span<std::uint8_t> into);

enum class DecodeFault {
    none,
    undefined_code,      // a code that names no entry yet
    misplaced_clear,     // CLEAR_CODE before the dictionary is full
    no_end_code,         // the stream ends before END_CODE
    short_filler,        // the stream ends inside the zero codes after END_CODE
    filler_not_zero,     // something other than zero codes after END_CODE
    trailing_bytes,      // bytes after the zero codes
    longer_than_header,  // more bytes than the header's length
    shorter_than_header, // END_CODE before the header's length is reached
};

struct DecodeStatus {
    DecodeFault fault;
    std::uint64_t at_bit;   // stream bit where it was found
    std::uint32_t code;     // the code concerned, where there is one
    std::uint64_t restored; // bytes restored so far
};

// Starts decoding a stream of `stream_bytes` bytes that must restore exactly
// `expected_bytes` bytes. Memory does not depend on either.
void start_decoder(Source source, std::uint64_t stream_bytes, std::uint64_t expected_bytes);

// Decodes on and returns the next run of restored bytes, valid until the next
// call; an empty run once decoding has ended, well or not (see decode_status).
std::span<const std::uint8_t> decode_more();

DecodeStatus decode_status();

// Called, when set, for every code read: its value, the width it was read at,
// the stream bit just after it, the bytes it stands for (0 for CLEAR_CODE and
// END_CODE) and the next entry number after it. For checks beyond the
// decoder's own.
using CodeTrace = void (*)(std::uint32_t code, int width, std::uint64_t end_bit, std::uint32_t length,
                           std::uint32_t next_entry);
extern CodeTrace trace_code;

}  // namespace lzw
