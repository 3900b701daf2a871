// The verifier's context, shared by the whole-stream check (verifier.cpp)
// and the check of one segment (segment_check.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "lifecycle.hpp"
#include "mornak.h"

namespace mornak {

inline constexpr std::size_t QUEUE_BYTES = std::size_t{1} << 20;
inline constexpr std::size_t PASS_BYTES = 64 * 1024;  // restored bytes, and their encoding, between the stages

struct Buffers {
    std::uint8_t queue[QUEUE_BYTES];      // stream bytes taken and not yet compared
    std::uint8_t restored[PASS_BYTES];    // from the decoder to the encoder
    std::uint8_t encoded[PASS_BYTES];     // from the encoder to the comparison
};

// Everything about one stream: begin replaces it whole.
struct VerifierStream {
    Lifecycle life;
    mornak_fault fault{MORNAK_OK, 0, 0, 0};
    // queue[0] is stream byte `queue_base`; [compared, taken) waits there and
    // [fed, taken) has not gone to the decoder yet. All in queue offsets.
    std::uint64_t queue_base = 0;
    std::size_t compared = 0, fed = 0, taken = 0;
    std::size_t restored_from = 0, restored_to = 0;
    std::size_t encoded_from = 0, encoded_to = 0;
    bool encoding = false;        // the encoder was begun with the header's length
    std::uint32_t length = 0;     // the header's
    bool decoded = false;         // the decoder restored the stream whole
    bool encoded = false;         // the encoder wrote its whole stream
    bool differs = false;         // a difference was found at `differs_at`
    std::uint64_t differs_at = 0;
};

}  // namespace mornak

// The two contexts and the buffers, made at create; the stream.
struct mornak_verifier {
    mornak_decoder* decoder = nullptr;
    mornak_encoder* encoder = nullptr;
    mornak::Buffers* buffers = nullptr;
    mornak::VerifierStream s;
};

