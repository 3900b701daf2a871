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

// MORNAK_OK, or what is wrong with a buffer a call was given: a position past
// its size, or no data for a size.
template <typename Buffer>
mornak_status check_buffer(const Buffer* buffer) {
    if (buffer == nullptr) {
        return MORNAK_ERROR_NULL;
    }
    if (buffer->pos > buffer->size) {
        return MORNAK_ERROR_ARGUMENT;
    }
    return buffer->data == nullptr && buffer->size != 0 ? MORNAK_ERROR_NULL : MORNAK_OK;
}

// The order of calls: after begin; once finish was set, finish on every call
// and, once the stream is complete, no new input.
inline mornak_status check_order(Lifecycle& life, const mornak_in& in, int finish) {
    if (life.phase == Phase::unready || (life.finishing() && finish == 0) ||
        (life.phase == Phase::done && in.pos != in.size)) {
        return life.fail(MORNAK_ERROR_ORDER);
    }
    if (finish != 0 && life.phase == Phase::taking) {
        life.phase = Phase::finishing;
    }
    return MORNAK_OK;
}

// The checks of a call that takes input and, unless `out` is not asked for
// (`wants_out` false), writes output: the sticky error first, then the
// buffers, then the order of calls. MORNAK_OK when the call may go on;
// otherwise the error, now sticky.
inline mornak_status admit(Lifecycle& life, const mornak_in* in, const mornak_out* out, bool wants_out, int finish) {
    if (life.phase == Phase::failed) {
        return life.error;
    }
    if (const mornak_status status = check_buffer(in); status != MORNAK_OK) {
        return life.fail(status);
    }
    if (wants_out) {
        if (const mornak_status status = check_buffer(out); status != MORNAK_OK) {
            return life.fail(status);
        }
    }
    return check_order(life, *in, finish);
}

inline mornak_status admit(Lifecycle& life, const mornak_in* in, const mornak_out* out, int finish) {
    return admit(life, in, out, true, finish);
}

inline mornak_status admit(Lifecycle& life, const mornak_in* in, int finish) {
    return admit(life, in, nullptr, false, finish);
}

}  // namespace mornak
