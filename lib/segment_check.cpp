// Checks one segment of a stream, from a restart point to the next one (or
// the end), the way the whole-stream verifier checks a stream: restore it,
// encode what it restores with a fresh dictionary, compare. The .bk file is
// in the caller's memory, so the encoder's bytes are compared with it in
// place. Bits count from the start of the file.
#include <algorithm>
#include <cstring>

#include "format.hpp"
#include "segment_hooks.hpp"
#include "verifier_state.hpp"

namespace {

using namespace mornak;

// The bit of `bytes` at `bit`, most significant first.
unsigned bit_at(const std::uint8_t* bytes, std::uint64_t bit) {
    return (std::uint32_t{bytes[bit / 8]} >> (7 - bit % 8)) & 1u;
}

// Compares what the encoder stored since the last call with the file, from
// byte `at` on. False at the first byte that differs or lies past the
// file's end, which `differs_at` then names.
bool compare_stored(const std::uint8_t* bk, std::size_t bk_size, const std::uint8_t* encoded, std::size_t n,
                    std::uint64_t& at, std::uint64_t& differs_at) {
    const std::size_t have = static_cast<std::size_t>(std::min<std::uint64_t>(n, bk_size - at));
    const auto same = static_cast<std::size_t>(std::mismatch(encoded, encoded + have, bk + at).first - encoded);
    at += same;
    if (same < n) {
        differs_at = at;
        return false;
    }
    return true;
}

// True when the header's length is 0: such a stream has a second sound
// form, from earlier converters, which no encoder today writes.
bool empty_content(const std::uint8_t* bk) {
    std::uint8_t header[HEADER_BYTES];
    std::memcpy(header, bk, HEADER_BYTES);
    std::uint32_t length = 1;
    return parse_header(header, length) == MORNAK_OK && length == 0;
}

}  // namespace

extern "C" {

mornak_status mornak_verifier_check_segment(mornak_verifier* verifier, const void* bk, size_t bk_size,
                                            const mornak_point* point, mornak_point* next) {
    if (verifier == nullptr) {
        return MORNAK_ERROR_NULL;
    }
    VerifierStream& v = verifier->s;
    v = VerifierStream{};
    if (bk == nullptr || point == nullptr || next == nullptr) {
        return v.life.fail(MORNAK_ERROR_NULL);
    }
    *next = mornak_point{0, 0};
    const auto* bytes = static_cast<const std::uint8_t*>(bk);
    if (bk_size < HEADER_BYTES || point->bk_bit > 8 * std::uint64_t{bk_size}) {
        v.life.phase = Phase::taking;
        mornak_decoder_begin(verifier->decoder);
        mornak_in in{bytes, bk_size, 0};
        mornak_out none{nullptr, 0, 0};
        const mornak_status status = bk_size < HEADER_BYTES ? mornak_decoder_run(verifier->decoder, &in, &none, 1)
                                                            : MORNAK_ERROR_ARGUMENT;
        mornak_decoder_fault(verifier->decoder, &v.fault);
        v.fault.status = status;
        return v.life.fail(status);
    }
    if (const mornak_status begun = mornak_decoder_begin_at(verifier->decoder, bytes, point, 1); begun != MORNAK_OK) {
        mornak_decoder_fault(verifier->decoder, &v.fault);
        v.fault.status = begun;
        return v.life.fail(begun);
    }
    const std::size_t first = static_cast<std::size_t>(point->bk_bit / 8);
    encoder_begin_at(verifier->encoder, bytes[std::min(first, bk_size - 1)], static_cast<int>(point->bk_bit % 8));
    Buffers& b = *verifier->buffers;
    mornak_in stream{bytes + first, bk_size - first, 0};
    std::uint64_t compared = first;  // the next file byte the encoder's output is compared with
    std::uint64_t differs_at = 0;
    bool same = true;
    mornak_status decoded = MORNAK_MORE;
    while (decoded == MORNAK_MORE) {
        mornak_out room{b.restored, PASS_BYTES, 0};
        decoded = mornak_decoder_run(verifier->decoder, &stream, &room, 1);
        if (decoded < 0) {
            mornak_decoder_fault(verifier->decoder, &v.fault);
            return v.life.fail(decoded);
        }
        mornak_in restored{b.restored, room.pos, 0};
        while (same && restored.pos != restored.size) {
            mornak_out encoded{b.encoded, PASS_BYTES, 0};
            mornak_encoder_run(verifier->encoder, &restored, &encoded, 0);
            same = compare_stored(bytes, bk_size, b.encoded, encoded.pos, compared, differs_at);
        }
    }
    mornak_decoder_position(verifier->decoder, next);
    mornak_decoder_fault(verifier->decoder, &v.fault);
    const std::uint64_t file_bits = 8 * std::uint64_t{bk_size};
    const bool at_clear = next->bk_bit != file_bits;
    if (same && at_clear) {
        // The encoder writes the segment's last code and the CLEAR_CODE only
        // once it sees the byte after them: the first of the next segment,
        // a literal at 11 bits. Anything else there is the next segment's
        // fault to report.
        std::uint32_t byte = 0;
        for (std::uint64_t bit = next->bk_bit; bit < next->bk_bit + INITIAL_CODE_BITS && bit < file_bits; ++bit) {
            byte = byte << 1 | bit_at(bytes, bit);
        }
        if (next->bk_bit + INITIAL_CODE_BITS > file_bits || byte >= CLEAR_CODE) {
            v.life.phase = Phase::done;
            return MORNAK_OK;
        }
        const auto c = static_cast<std::uint8_t>(byte);
        mornak_in one{&c, 1, 0};
        mornak_out encoded{b.encoded, PASS_BYTES, 0};
        mornak_encoder_run(verifier->encoder, &one, &encoded, 0);
        same = compare_stored(bytes, bk_size, b.encoded, encoded.pos, compared, differs_at);
        // Then the bits not stored yet must end exactly at the next point.
        std::uint64_t waiting = 0;
        int count = 0;
        encoder_waiting(verifier->encoder, waiting, count);
        for (int i = 0; same && i < count; ++i) {
            same = 8 * compared + static_cast<std::uint64_t>(i) < next->bk_bit &&
                   ((waiting >> (63 - i)) & 1u) == bit_at(bytes, 8 * compared + static_cast<std::uint64_t>(i));
        }
        if (same && 8 * compared + static_cast<std::uint64_t>(count) != next->bk_bit) {
            same = false;
        }
        if (!same) {
            differs_at = compared;
        }
    } else if (same) {
        // The stream's end: the encoder's closing codes, stored up to the
        // last whole byte, must end where the file does.
        mornak_in none{nullptr, 0, 0};
        mornak_out encoded{b.encoded, PASS_BYTES, 0};
        mornak_encoder_run(verifier->encoder, &none, &encoded, 1);
        same = compare_stored(bytes, bk_size, b.encoded, encoded.pos, compared, differs_at);
        if (same && compared != bk_size) {
            same = false;
            differs_at = compared;
        }
    }
    if (!same && !(point->bk_bit == 8 * HEADER_BYTES && !at_clear && empty_content(bytes))) {
        v.fault.status = MORNAK_ERROR_NOT_CANONICAL;
        v.fault.at_byte = differs_at;
        return v.life.fail(MORNAK_ERROR_NOT_CANONICAL);
    }
    v.life.phase = Phase::done;
    return MORNAK_OK;
}

}  // extern "C"
