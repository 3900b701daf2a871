// Where a context's stream stands, and the checks every streaming call makes
// of its caller: one shape for the encoder, the decoder and the verifier.
//
// Each context keeps a Lifecycle inside its per-stream state, so begin, which
// assigns a fresh per-stream state, also starts a fresh Lifecycle. An error
// a call returns is sticky: every later call returns it again, until begin.
#pragma once

#include <cstddef>

#include "mornak.h"

namespace mornak {

enum class Phase : unsigned char {
    unready,    // never begun
    taking,     // begun: input may come
    finishing,  // a call set finish: no new input, and every call sets finish
    done,       // MORNAK_OK was returned: the stream is complete
    failed,     // `error` was returned, and is returned again until begin
};

struct Lifecycle {
    Phase phase = Phase::unready;
    mornak_status error = MORNAK_OK;  // while failed

    bool finishing() const { return phase == Phase::finishing || phase == Phase::done; }

    mornak_status fail(mornak_status status) {
        phase = Phase::failed;
        error = status;
        return status;
    }

    // What a call returns once it is done working: MORNAK_OK completes the
    // stream, an error sticks, MORNAK_MORE changes nothing.
    mornak_status conclude(mornak_status status) {
        if (status == MORNAK_OK) {
            phase = Phase::done;
        } else if (status < 0) {
            fail(status);
        }
        return status;
    }
};

template <typename Buffer>
bool missing(const Buffer* buffer) {
    return buffer == nullptr;
}
template <typename Buffer>
bool past_size(const Buffer* buffer) {
    return buffer->pos > buffer->size;
}
template <typename Buffer>
bool no_data(const Buffer* buffer) {
    return buffer->data == nullptr && buffer->size != 0;
}

// MORNAK_OK, or what is wrong with the buffers a call was given, in one
// order for every call: a missing buffer, then a position past its size,
// then no data for a size.
template <typename... Buffers>
mornak_status check_buffers(const Buffers*... buffers) {
    if ((missing(buffers) || ...)) {
        return MORNAK_ERROR_NULL;
    }
    if ((past_size(buffers) || ...)) {
        return MORNAK_ERROR_ARGUMENT;
    }
    if ((no_data(buffers) || ...)) {
        return MORNAK_ERROR_NULL;
    }
    return MORNAK_OK;
}

// The checks every streaming call makes before it works, in this order: the
// sticky error; the call's arguments (`in`, and `arguments`: what is wrong
// with its others, MORNAK_OK when nothing is); then the order of calls:
// after begin, finish on every call once one set it, and no new input once
// the stream is complete. MORNAK_OK when the call may go on; otherwise the
// error, now sticky.
inline mornak_status admit(Lifecycle& life, const mornak_in* in, mornak_status arguments, int finish) {
    if (life.phase == Phase::failed) {
        return life.error;
    }
    if (arguments == MORNAK_OK) {
        arguments = check_buffers(in);
    }
    if (arguments != MORNAK_OK) {
        return life.fail(arguments);
    }
    if (life.phase == Phase::unready || (life.finishing() && finish == 0) ||
        (life.phase == Phase::done && in->pos != in->size)) {
        return life.fail(MORNAK_ERROR_ORDER);
    }
    if (finish != 0 && life.phase == Phase::taking) {
        life.phase = Phase::finishing;
    }
    return MORNAK_OK;
}

}  // namespace mornak
