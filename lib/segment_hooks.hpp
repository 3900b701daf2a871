// What the verifier needs of the encoder to check one segment of a stream,
// outside the public API (the library exports none of it).
#pragma once

#include <cstdint>

#include "mornak.h"

namespace mornak {

// Begins a stream at a restart point: no header, no size, and the first
// `lead_count` (0..7) bits of `lead_byte` already waiting, as the code before
// the point left them, so that bytes come out where the stream has them and
// the ratio rule counts them as it did.
void encoder_begin_at(mornak_encoder* encoder, std::uint8_t lead_byte, int lead_count);

// The bits written and not yet stored (fewer than 8), left-aligned in `bits`.
void encoder_waiting(const mornak_encoder* encoder, std::uint64_t& bits, int& count);

}  // namespace mornak
