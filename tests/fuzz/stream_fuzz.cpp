// The streaming calls against the one-shot ones, with chunk sizes taken from
// the input: the first 4 bytes give the input and output chunk sizes (1 to
// 256 each, repeating), the rest is the data. Converting the data in chunks
// must give the one-shot .bk, restoring that in chunks the data; the data
// taken as a .bk must restore and verify in chunks exactly as in one piece,
// fault and all, and a decoder that stops at the stream's end must agree.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mornak.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "streaming differs: %s\n", what);
    std::abort();
}

struct Chunks {
    std::uint8_t in[2], out[2];
    int turn = 0;
    std::size_t next_in() { return 1 + in[turn++ % 2]; }
    std::size_t next_out() { return 1 + out[turn % 2]; }
};

using Bytes = std::vector<std::uint8_t>;

// Runs `run` over `data` in the chunks given; returns the final status.
template <typename Run>
mornak_status in_chunks(const Bytes& data, Chunks chunks, Bytes& output, Run run) {
    std::size_t offered = 0;
    mornak_status status = MORNAK_MORE;
    mornak_in in{data.data(), 0, 0};
    for (int calls = 0; status == MORNAK_MORE; ++calls) {
        if (calls > 100000000) {
            fail("no end");
        }
        if (in.pos == in.size && offered < data.size()) {
            offered = std::min(data.size(), offered + chunks.next_in());
            in.size = offered;
        }
        std::uint8_t room[257];
        mornak_out out{room, chunks.next_out(), 0};
        status = run(&in, &out, offered == data.size() ? 1 : 0);
        output.insert(output.end(), room, room + out.pos);
    }
    return status;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    Chunks chunks{{input[0], input[1]}, {input[2], input[3]}};
    const Bytes data(input + 4, input + size);
    static mornak_encoder* const encoder = mornak_encoder_create();
    static mornak_decoder* const decoder = mornak_decoder_create();
    static mornak_verifier* const verifier = mornak_verifier_create();

    Bytes whole(mornak_compress_bound(data.size()));
    std::size_t whole_size = 0;
    if (mornak_compress(data.data(), data.size(), whole.data(), whole.size(), &whole_size) != MORNAK_OK) {
        fail("one-shot conversion");
    }
    whole.resize(whole_size);
    Bytes streamed;
    mornak_encoder_begin(encoder, static_cast<std::int64_t>(data.size()));
    const mornak_status converted = in_chunks(data, chunks, streamed, [](mornak_in* in, mornak_out* out, int last) {
        return mornak_encoder_run(encoder, in, out, last);
    });
    if (converted != MORNAK_OK || streamed != whole) {
        fail("conversion in chunks");
    }
    Bytes restored;
    mornak_decoder_begin(decoder);
    if (in_chunks(whole, chunks, restored, [](mornak_in* in, mornak_out* out, int last) {
            return mornak_decoder_run(decoder, in, out, last);
        }) != MORNAK_OK || restored != data) {
        fail("restoring in chunks");
    }

    // The data as a .bk file, sound or not.
    Bytes one(1 << 20);
    std::size_t one_size = 0;
    const mornak_status decompressed = mornak_decompress(data.data(), data.size(), one.data(), one.size(), &one_size);
    one.resize(one_size);
    Bytes pieces;
    mornak_decoder_begin(decoder);
    const mornak_status decoded = in_chunks(data, chunks, pieces, [](mornak_in* in, mornak_out* out, int last) {
        return mornak_decoder_run(decoder, in, out, last);
    });
    if (decompressed != MORNAK_ERROR_DST_TOO_SMALL && (decoded != decompressed || pieces != one)) {
        fail("a .bk restored in chunks");
    }
    // A decoder that stops at the stream's end takes from the data what it
    // calls the stream: a sound file alone, restoring to the same bytes; the
    // rest is the caller's. Where the whole data restores, nothing is left;
    // where that one fails, so does the whole data.
    static mornak_decoder* const stopping = [] {
        mornak_decoder* d = mornak_decoder_create();
        mornak_decoder_stop_at_end(d, 1);
        return d;
    }();
    Bytes stopped;
    mornak_decoder_begin(stopping);
    std::size_t stream_end = 0;
    const mornak_status stop = in_chunks(data, chunks, stopped, [&](mornak_in* in, mornak_out* out, int last) {
        const mornak_status status = mornak_decoder_run(stopping, in, out, last);
        stream_end = in->pos;
        return status;
    });
    if (stop == MORNAK_OK) {
        std::size_t held = 0;
        mornak_decoder_unused(stopping, nullptr, 0, &held);
        stream_end -= held;
        Bytes alone(std::max<std::size_t>(stopped.size(), 1));
        std::size_t alone_size = 0;
        const mornak_status alone_status =
            mornak_decompress(data.data(), stream_end, alone.data(), alone.size(), &alone_size);
        alone.resize(alone_size);
        if (alone_status != MORNAK_OK || alone != stopped ||
            (decoded == MORNAK_OK && (stream_end != data.size() || stopped != pieces))) {
            fail("a stream that stops at its end");
        }
    } else if (decoded == MORNAK_OK || (stop != MORNAK_MORE && stop >= 0)) {
        fail("a stream that stops at its end, failing");
    }
    // And without a copy: runs handed out of the decoder, every other chunk
    // read into the decoder's own room.
    Bytes runs;
    mornak_decoder_begin(decoder);
    mornak_status direct = MORNAK_MORE;
    std::size_t offered = 0;
    mornak_in in{data.data(), 0, 0};
    for (int turn = 0; direct == MORNAK_MORE; ++turn) {
        if (in.pos == in.size && offered < data.size()) {
            std::size_t n = std::min(chunks.next_in(), data.size() - offered);
            unsigned char* room = nullptr;
            std::size_t room_size = 0;
            if (turn % 2 == 0 && mornak_decoder_input_room(decoder, &room, &room_size) == MORNAK_OK) {
                n = std::min(n, room_size);
                std::memcpy(room, data.data() + offered, n);
                in = {room, n, 0};
            } else {
                in = {data.data() + offered, n, 0};
            }
            offered += n;
        }
        const unsigned char* run = nullptr;
        std::size_t run_size = 0;
        direct = mornak_decoder_run_direct(decoder, &in, offered == data.size() ? 1 : 0, &run, &run_size);
        runs.insert(runs.end(), run, run + run_size);
    }
    if (direct != decoded || runs != pieces) {
        fail("a .bk restored without a copy");
    }
    Bytes none;
    mornak_verifier_begin(verifier);
    const mornak_status verified = in_chunks(data, chunks, none, [](mornak_in* in, mornak_out*, int last) {
        return mornak_verifier_run(verifier, in, last);
    });
    if (verified != mornak_verify(data.data(), data.size())) {
        fail("a .bk verified in chunks");
    }
    return 0;
}
