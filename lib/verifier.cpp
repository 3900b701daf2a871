// The verifier: a .bk file passes when it restores whole and is exactly what
// the encoder writes for the bytes it restores. It restores the stream,
// encodes what it restores and compares that with the stream, as they come.
//
// The stream's bytes wait in a queue from when they are taken until they are
// compared. Comparing never falls far behind: the decoder hands out at most
// a batch (64 KiB and one string) beyond what the encoder took, its input
// block holds 64 KiB, and a stream byte stands for at least 8/17 of a
// restored byte, so under 600 KiB wait at any time; QUEUE_BYTES leaves room.
// Until the streams differ, the encoder's output never runs ahead of the
// stream the decoder took: a code it writes covers bytes that codes of the
// stream restored.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "format.hpp"
#include "tables_memory.hpp"
#include "verifier_state.hpp"

namespace {

using namespace mornak;

// Ends the run with `status`: a fault not taken from the decoder is found at
// `at_byte`.
mornak_status conclude(VerifierStream& v, mornak_status status, std::uint64_t at_byte = 0) {
    if (status != MORNAK_OK && v.fault.status == MORNAK_OK) {
        v.fault.status = status;
        v.fault.at_byte = at_byte;
    }
    return v.life.conclude(status);
}

// Slides what still waits to the start of the queue. Once the streams
// differ nothing more is compared: only what the decoder has not taken
// waits, however far the rest of the stream runs.
void compact(Buffers& b, VerifierStream& v) {
    const std::size_t drop = v.differs ? v.fed : std::min(v.compared, v.fed);
    if (drop == 0) {
        return;
    }
    std::memmove(b.queue, b.queue + drop, v.taken - drop);
    v.queue_base += drop;
    v.compared -= std::min(v.compared, drop);
    v.fed -= drop;
    v.taken -= drop;
}

// Compares the encoder's output with the stream as far as both go.
bool compare(const Buffers& buffers, VerifierStream& v) {
    const std::size_t n = std::min(v.encoded_to - v.encoded_from, v.taken - v.compared);
    const std::uint8_t* a = buffers.encoded + v.encoded_from;
    const std::uint8_t* b = buffers.queue + v.compared;
    const auto same = static_cast<std::size_t>(std::mismatch(a, a + n, b).first - a);
    if (same < n) {
        v.differs = true;
        v.differs_at = v.queue_base + v.compared + same;
    }
    v.compared += same;
    v.encoded_from += same;
    if (v.encoded_from == v.encoded_to) {
        v.encoded_from = v.encoded_to = 0;
    }
    return n != 0;
}

}  // namespace

extern "C" {

mornak_verifier* mornak_verifier_create(void) {
    auto* v = new_context<mornak_verifier>();
    if (v == nullptr) {
        return nullptr;
    }
    v->decoder = mornak_decoder_create();
    v->encoder = mornak_encoder_create();
    v->buffers = static_cast<Buffers*>(std::malloc(sizeof(Buffers)));
    if (v->decoder == nullptr || v->encoder == nullptr || v->buffers == nullptr) {
        mornak_verifier_free(v);
        return nullptr;
    }
    return v;
}

void mornak_verifier_free(mornak_verifier* verifier) {
    if (verifier != nullptr) {
        mornak_decoder_free(verifier->decoder);
        mornak_encoder_free(verifier->encoder);
        std::free(verifier->buffers);
        delete_context(verifier);
    }
}

mornak_status mornak_verifier_begin(mornak_verifier* verifier) {
    if (verifier == nullptr) {
        return MORNAK_ERROR_NULL;
    }
    verifier->s = VerifierStream{};
    verifier->s.life.phase = Phase::taking;
    return mornak_decoder_begin(verifier->decoder);
}

mornak_status mornak_verifier_run(mornak_verifier* verifier, mornak_in* in, int finish) {
    if (verifier == nullptr) {
        return MORNAK_ERROR_NULL;
    }
    VerifierStream& v = verifier->s;
    if (const mornak_status status = admit(v.life, in, MORNAK_OK, finish); status != MORNAK_OK) {
        return status;
    }
    if (v.life.phase == Phase::done) {
        return MORNAK_OK;
    }
    Buffers& b = *verifier->buffers;
    for (bool moved = true; moved;) {
        moved = false;
        // Take what the caller offers into the queue.
        compact(b, v);
        const std::size_t take = std::min(QUEUE_BYTES - v.taken, in->size - in->pos);
        if (take != 0) {
            std::memcpy(b.queue + v.taken, in->data + in->pos, take);
            in->pos += take;
            v.taken += take;
            moved = true;
        }
        // Restore.
        if (!v.decoded) {
            mornak_in stream{b.queue, v.taken, v.fed};
            mornak_out room{b.restored, PASS_BYTES, v.restored_to};
            const mornak_status s =
                mornak_decoder_run(verifier->decoder, &stream, &room, v.life.finishing() && in->pos == in->size);
            moved = moved || stream.pos != v.fed || room.pos != v.restored_to;
            v.fed = stream.pos;
            v.restored_to = room.pos;
            if (s < 0) {
                mornak_decoder_fault(verifier->decoder, &v.fault);
                return conclude(v, s);
            }
            v.decoded = s == MORNAK_OK;
        }
        // Encode what was restored, with the header's length.
        // Nothing is compared before the encoder starts, so the header is
        // still at the start of the queue; a header the decoder refused has
        // already ended the run.
        if (!v.encoding && !v.differs && v.taken >= HEADER_BYTES) {
            std::uint8_t header[HEADER_BYTES];
            std::memcpy(header, b.queue, HEADER_BYTES);
            if (parse_header(header, v.length) == MORNAK_OK) {
                mornak_encoder_begin(verifier->encoder, v.length);
                v.encoding = true;
            }
        }
        if (v.encoding && !v.differs && !v.encoded) {
            mornak_in restored{b.restored, v.restored_to, v.restored_from};
            mornak_out room{b.encoded, PASS_BYTES, v.encoded_to};
            const mornak_status s = mornak_encoder_run(verifier->encoder, &restored, &room, v.decoded ? 1 : 0);
            moved = moved || restored.pos != v.restored_from || room.pos != v.encoded_to;
            v.restored_from = restored.pos;
            v.encoded_to = room.pos;
            if (v.restored_from == v.restored_to) {
                v.restored_from = v.restored_to = 0;
            }
            if (s < 0) {
                return conclude(v, s);
            }
            v.encoded = s == MORNAK_OK;
        }
        if (!v.differs) {
            moved = compare(b, v) || moved;
        }
        if (v.differs && v.restored_to != 0) {
            v.restored_from = v.restored_to = 0;  // nothing more to compare: only the restoring goes on
            moved = true;
        }
        if (v.decoded && (v.differs || v.encoded)) {
            mornak_decoder_fault(verifier->decoder, &v.fault);
            const std::uint64_t stream_end = v.queue_base + v.taken;
            const std::uint64_t compared = v.queue_base + v.compared;
            // An empty input has one other sound form, from earlier
            // converters: the decoder checked it whole, and no encoder today
            // writes it.
            if (v.length == 0) {
                return conclude(v, MORNAK_OK);
            }
            if (v.differs) {
                return conclude(v, MORNAK_ERROR_NOT_CANONICAL, v.differs_at);
            }
            if (v.encoded_to != v.encoded_from || compared != stream_end) {
                return conclude(v, MORNAK_ERROR_NOT_CANONICAL, compared);  // one of the two ends first
            }
            return conclude(v, MORNAK_OK);
        }
    }
    if (v.decoded && v.life.finishing() && in->pos == in->size) {
        // Restored whole, every byte taken, and still the encoder has more to
        // write than the stream holds: the two differ where the stream ends.
        mornak_decoder_fault(verifier->decoder, &v.fault);
        return conclude(v, v.length == 0 ? MORNAK_OK : MORNAK_ERROR_NOT_CANONICAL, v.queue_base + v.taken);
    }
    return MORNAK_MORE;
}

void mornak_verifier_fault(const mornak_verifier* verifier, mornak_fault* fault) {
    if (fault == nullptr) {
        return;
    }
    if (verifier == nullptr) {
        *fault = mornak_fault{MORNAK_ERROR_NULL, 0, 0, 0};
        return;
    }
    const VerifierStream& v = verifier->s;
    *fault = v.fault;
    if (v.life.phase == Phase::failed) {
        fault->status = v.life.error;
    }
}

}  // extern "C"
