// The .bk format: the header, the code alphabet and the code widths. Shared
// by the encoder, the decoder and the verifier; nothing here holds state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "mornak.h"

namespace mornak {

inline constexpr int INITIAL_CODE_BITS = 11;
inline constexpr int MAX_CODE_BITS = 16;

// The code alphabet: 0..255 are single bytes, then two control codes, then
// dictionary strings numbered in the order the encoder creates them.
//
// Where CLEAR_CODE goes is the encoder's ratio rule: once the dictionary is
// full at 16 bits, after the first code written more than 100 input bytes
// past the last check, the percentage stream bytes * 100 / input bytes
// since the dictionary began, in unsigned 32-bit arithmetic (wrap-around
// included), is compared with the last check's; worse starts a fresh
// dictionary. Readers need none of it: CLEAR_CODE stands in the stream.
// The rule lives in lib/encoder.cpp (RATIO_CHECK_GAP and START_RATIO_MARK,
// the check in encode_bytes, fresh_dictionary, and the progress report
// before each fresh dictionary in mornak_encoder_run). What must change
// with it: the tests' replay of it (check_ratio_rule in
// tests/lib/decoder_trace.cpp), the recorded sums of every round-trip row
// (tests/lib/known_answers_test.cpp), and its description in docs/format.md
// and man/mornak.1. The decoder only checks that a CLEAR_CODE comes with the
// dictionary full (step in lib/decode_loop.cpp), which depends on the
// dictionary's size, not on the rule.
inline constexpr std::uint32_t CLEAR_CODE = 256;
inline constexpr std::uint32_t END_CODE = 257;
inline constexpr std::uint32_t FIRST_FREE_CODE = 258;
inline constexpr std::uint32_t CODE_LIMIT = 1u << MAX_CODE_BITS;  // 65536: codes stay below it

inline constexpr std::size_t HEADER_BYTES = MORNAK_HEADER_BYTES;
inline constexpr std::array<std::uint8_t, 4> MAGIC = {'b', 'o', 'o', 'k'};
// The length field a stream of unknown length carries until it is patched:
// read as a signed number it is negative, so a reader refuses it.
inline constexpr std::uint32_t UNKNOWN_LENGTH_FIELD = 0xFFFFFFFFu;

// "book", then `length` as 32-bit little-endian.
inline std::array<std::uint8_t, HEADER_BYTES> make_header(std::uint32_t length) {
    return {MAGIC[0], MAGIC[1], MAGIC[2], MAGIC[3], static_cast<std::uint8_t>(length),
            static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length >> 16),
            static_cast<std::uint8_t>(length >> 24)};
}

// What the first HEADER_BYTES of a file say: MORNAK_OK with `length` set,
// MORNAK_ERROR_NOT_BK (found at byte 0) or MORNAK_ERROR_NEGATIVE_LENGTH (at
// byte 4).
mornak_status parse_header(const std::uint8_t (&header)[HEADER_BYTES], std::uint32_t& length);

}  // namespace mornak
