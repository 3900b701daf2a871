// Hooks for the tests, outside the public API: this header is not installed
// and its functions are inline, so the shared library exports none of them.
#pragma once

#include "decoder_state.hpp"

namespace mornak::internal {

// Calls `trace` for every code the decoder reads from now on (null: no
// longer). While a trace is set the decoder takes every code on its general
// path, so comparing a traced run with an untraced one checks its fast path.
inline void set_trace(mornak_decoder* decoder, CodeTrace trace, void* user) {
    decoder->tracing = {trace, user};
}

// The stream bit (after the header) where the decoder found its fault:
// finer than the byte the public fault gives.
inline std::uint64_t fault_bit(const mornak_decoder* decoder) { return decoder->s.decode.fault_bit; }

}  // namespace mornak::internal
