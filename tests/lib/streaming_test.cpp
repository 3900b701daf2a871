// The streaming calls give exactly the one-shot bytes, however input and
// output are cut, and contexts never share anything: interleaved in one
// thread or run on several at once; a decoder that stops at the stream's
// end leaves what follows it to the caller.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <thread>

#include "damaged_files.hpp"
#include "decoder_trace.hpp"
#include "format.hpp"
#include "mornak.h"
#include "round_trip_rows.hpp"
#include "support.hpp"

namespace {

constexpr std::size_t ALL = std::numeric_limits<std::size_t>::max();

struct Free {
    void operator()(mornak_encoder* e) const { mornak_encoder_free(e); }
    void operator()(mornak_decoder* d) const { mornak_decoder_free(d); }
};
using Encoder = std::unique_ptr<mornak_encoder, Free>;
using Decoder = std::unique_ptr<mornak_decoder, Free>;

// One stream going through a context in pieces: `in_chunk` more input bytes
// are offered whenever the last are taken, `room` bytes of output each call.
struct Pass {
    const Bytes& input;
    std::size_t in_chunk, room;
    Bytes output{};
    mornak_in in{input.data(), 0, 0};
    std::size_t calls = 0;

    // One call of `run`; the final status once the stream is done, else MORNAK_MORE.
    template <typename Run>
    mornak_status step(Run run) {
        if (in.pos == in.size) {
            in.size = in_chunk >= input.size() - in.size ? input.size() : in.size + in_chunk;
        }
        thread_local std::vector<std::uint8_t> scratch(std::size_t{1} << 20);
        mornak_out out{scratch.data(), std::min(room, scratch.size()), 0};
        const mornak_status status = run(&in, &out, in.size == input.size() ? 1 : 0);
        output.insert(output.end(), scratch.data(), scratch.data() + out.pos);
        ++calls;
        return status;
    }
};

mornak_status convert(mornak_encoder* e, Pass& pass) {
    mornak_encoder_begin(e, static_cast<std::int64_t>(pass.input.size()));
    mornak_status status = MORNAK_MORE;
    while (status == MORNAK_MORE) {
        status = pass.step([e](mornak_in* in, mornak_out* out, int last) { return mornak_encoder_run(e, in, out, last); });
    }
    return status;
}

mornak_status restore(mornak_decoder* d, Pass& pass) {
    mornak_decoder_begin(d);
    mornak_status status = MORNAK_MORE;
    while (status == MORNAK_MORE) {
        status = pass.step([d](mornak_in* in, mornak_out* out, int last) { return mornak_decoder_run(d, in, out, last); });
    }
    return status;
}

// Restores `bk` through mornak_decoder_run_direct, offered `in_chunk` bytes
// at a time; with `in_room`, each chunk is first copied into the decoder's
// own input room, as a caller reading a file would read it there.
mornak_status restore_direct(mornak_decoder* d, const Bytes& bk, std::size_t in_chunk, bool in_room, Bytes& out) {
    mornak_decoder_begin(d);
    std::size_t offered = 0;
    mornak_in in{bk.data(), 0, 0};
    mornak_status status = MORNAK_MORE;
    while (status == MORNAK_MORE) {
        if (in.pos == in.size && offered < bk.size()) {
            std::size_t n = std::min(in_chunk, bk.size() - offered);
            if (in_room) {
                unsigned char* room = nullptr;
                std::size_t room_size = 0;
                EXPECT_EQ(mornak_decoder_input_room(d, &room, &room_size), MORNAK_OK);
                n = std::min(n, room_size);
                std::copy_n(bk.data() + offered, n, room);
                in = {room, n, 0};
            } else {
                in = {bk.data() + offered, n, 0};
            }
            offered += n;
        }
        const unsigned char* run = nullptr;
        std::size_t size = 0;
        status = mornak_decoder_run_direct(d, &in, offered == bk.size() ? 1 : 0, &run, &size);
        out.insert(out.end(), run, run + size);
    }
    return status;
}

// Restores `bk` with mornak_decoder_run and `room` bytes of output a call,
// but once `switch_at` bytes are out, takes one run without a copy.
mornak_status restore_mixed(mornak_decoder* d, const Bytes& bk, std::size_t room, std::size_t switch_at, Bytes& out) {
    mornak_decoder_begin(d);
    mornak_in in{bk.data(), bk.size(), 0};
    std::vector<std::uint8_t> scratch(room);
    mornak_status status = MORNAK_MORE;
    bool switched = false;
    while (status == MORNAK_MORE) {
        if (!switched && out.size() >= switch_at) {
            switched = true;
            const unsigned char* run = nullptr;
            std::size_t size = 0;
            status = mornak_decoder_run_direct(d, &in, 1, &run, &size);
            out.insert(out.end(), run, run + size);
            continue;
        }
        mornak_out o{scratch.data(), scratch.size(), 0};
        status = mornak_decoder_run(d, &in, &o, 1);
        out.insert(out.end(), scratch.data(), scratch.data() + o.pos);
    }
    return status;
}

TEST(Streaming, EveryRowInEveryChunkingGivesTheOneShotBytes) {
    const Encoder encoder(mornak_encoder_create());
    const Decoder decoder(mornak_decoder_create());
    ASSERT_TRUE(encoder && decoder);
    const std::vector<std::size_t> every_chunk = {1, 7, 4096, ALL}, every_room = {1, 13, ALL};
    const std::vector<std::size_t> large_chunks = {65536};
    for (const RoundTrip& row : round_trip_rows()) {
        SCOPED_TRACE(row.name);
        const Bytes bk = compress(row.input);
        for (const std::size_t in_chunk : row.large ? large_chunks : every_chunk) {
            for (const std::size_t room : row.large ? large_chunks : every_room) {
                SCOPED_TRACE("input chunks of " + std::to_string(in_chunk) + ", output room " + std::to_string(room));
                Pass converting{row.input, in_chunk, room};
                ASSERT_EQ(convert(encoder.get(), converting), MORNAK_OK);
                ASSERT_TRUE(converting.output == bk);
                Pass restoring{bk, in_chunk, room};
                ASSERT_EQ(restore(decoder.get(), restoring), MORNAK_OK);
                ASSERT_TRUE(restoring.output == row.input);
            }
            for (const bool in_room : {false, true}) {
                SCOPED_TRACE("without a copy, input chunks of " + std::to_string(in_chunk) +
                             (in_room ? ", read into the decoder's room" : ""));
                Bytes direct;
                ASSERT_EQ(restore_direct(decoder.get(), bk, in_chunk, in_room, direct), MORNAK_OK);
                ASSERT_TRUE(direct == row.input);
            }
        }
        // Both ways of handing out mixed on one stream, as the area that keeps
        // the decoder's output fills up (at 1.38 MB): one run without a copy
        // while bytes restored into it still wait to go out.
        for (std::size_t switch_at = 1'300'000; switch_at <= 1'400'000 && switch_at < row.input.size();
             switch_at += 20'000) {
            SCOPED_TRACE("1000 bytes of room a call, one run without a copy after " + std::to_string(switch_at));
            Bytes mixed;
            ASSERT_EQ(restore_mixed(decoder.get(), bk, 1000, switch_at, mixed), MORNAK_OK);
            ASSERT_TRUE(mixed == row.input);
        }
    }
}

// Restores `file` in a decoder that stops at the stream's end, offered
// `in_chunk` more bytes whenever the last are taken and `room` bytes of
// output a call; finish is set only once the file is all offered and the
// decoder still asks for more.
struct Stopping {
    mornak_status status = MORNAK_MORE;
    Bytes output, unused;   // unused: what the decoder held past the end, then what it left untaken
    bool finish_set = false;
};

Stopping restore_stopping(mornak_decoder* d, const Bytes& file, std::size_t in_chunk, std::size_t room) {
    Stopping r;
    mornak_decoder_stop_at_end(d, 1);
    mornak_decoder_begin(d);
    mornak_in in{file.data(), 0, 0};
    std::vector<std::uint8_t> scratch(std::min<std::size_t>(room, 1 << 20));
    bool stalled = false;  // the last call gave nothing, with the whole file taken
    while (r.status == MORNAK_MORE) {
        if (in.pos == in.size) {
            in.size = in_chunk >= file.size() - in.size ? file.size() : in.size + in_chunk;
        }
        mornak_out out{scratch.data(), scratch.size(), 0};
        r.finish_set = r.finish_set || (stalled && in.size == file.size());
        r.status = mornak_decoder_run(d, &in, &out, r.finish_set ? 1 : 0);
        stalled = out.pos == 0 && in.pos == file.size();
        r.output.insert(r.output.end(), scratch.data(), scratch.data() + out.pos);
    }
    std::size_t held = 0;
    if (r.status == MORNAK_OK) {
        const mornak_status asked = mornak_decoder_unused(d, nullptr, 0, &held);
        EXPECT_EQ(asked, held == 0 ? MORNAK_OK : MORNAK_ERROR_DST_TOO_SMALL);
        r.unused.resize(held);
        EXPECT_EQ(mornak_decoder_unused(d, r.unused.data(), held, &held), MORNAK_OK);
        r.unused.insert(r.unused.end(), file.begin() + static_cast<std::ptrdiff_t>(in.pos), file.end());
    }
    mornak_decoder_stop_at_end(d, 0);
    return r;
}

TEST(Streaming, AStreamThatStopsAtItsEndLeavesWhatFollowsWithoutFinish) {
    const Decoder decoder(mornak_decoder_create());
    ASSERT_TRUE(decoder);
    const Bytes next_file = compress(bytes_of("another file"));
    const std::vector<std::pair<std::string, Bytes>> afters = {
        {"nothing", {}}, {"one byte", {0}}, {"another .bk file", next_file}, {"64 KiB", random_bytes(65536, 5)}};
    for (const RoundTrip& row : round_trip_rows()) {
        const Bytes bk = compress(row.input);
        for (const std::size_t in_chunk : row.large ? std::vector<std::size_t>{65536} : std::vector<std::size_t>{1, 7, ALL}) {
            for (const auto& [what, after] : afters) {
                SCOPED_TRACE(row.name + ", input chunks of " + std::to_string(in_chunk) + ", followed by " + what);
                const Stopping r = restore_stopping(decoder.get(), bk + after, in_chunk, in_chunk == 1 ? 13 : ALL);
                ASSERT_EQ(r.status, MORNAK_OK);
                ASSERT_FALSE(r.finish_set);
                ASSERT_TRUE(r.output == row.input);
                ASSERT_TRUE(r.unused == after);
                mornak_point end{};
                ASSERT_EQ(mornak_decoder_position(decoder.get(), &end), MORNAK_OK);
                ASSERT_EQ(end.bk_bit, 8 * bk.size());
            }
        }
    }
    // Every damaged file is the same fault, but bytes after the stream, which are the caller's.
    for (const DamagedFile& row : damaged_files()) {
        SCOPED_TRACE(row.name);
        const Stopping r = restore_stopping(decoder.get(), row.file, ALL, ALL);
        mornak_fault fault{};
        mornak_decoder_fault(decoder.get(), &fault);
        if (row.restoring.status == MORNAK_ERROR_TRAILING_BYTES) {
            ASSERT_EQ(r.status, MORNAK_OK);
            ASSERT_TRUE(r.unused == Bytes(row.file.begin() + static_cast<std::ptrdiff_t>(row.restoring.at_byte), row.file.end()));
        } else {
            ASSERT_EQ(r.status, row.restoring.status);
            ASSERT_EQ(fault.at_byte, row.restoring.at_byte);
        }
        ASSERT_EQ(fault.restored, row.restoring.restored);
    }
}

// What the progress callback saw: the input taken at each call, the last
// call, and how often the dictionary changed.
struct Seen {
    std::vector<std::uint64_t> taken;
    mornak_progress last{};
    std::uint32_t fresh_dictionaries = 0;
    static void record(void* user, const mornak_progress* p) {
        auto& seen = *static_cast<Seen*>(user);
        seen.fresh_dictionaries += p->dictionary != seen.last.dictionary;
        EXPECT_GE(p->taken, seen.last.taken);
        EXPECT_GE(p->written, seen.last.written);
        seen.taken.push_back(p->taken);
        seen.last = *p;
    }
};

TEST(Streaming, ProgressEndsAtTheInputAndOutputSizesAndCountsEachFreshDictionary) {
    const Encoder encoder(mornak_encoder_create());
    for (const RoundTrip& row : round_trip_rows()) {
        SCOPED_TRACE(row.name);
        Seen seen;
        mornak_encoder_set_progress(encoder.get(), Seen::record, &seen);
        Pass pass{row.input, 100000, 100000};
        ASSERT_EQ(convert(encoder.get(), pass), MORNAK_OK);
        const Decoded decoded = decode_stream(std::span(pass.output).subspan(MORNAK_HEADER_BYTES));
        const auto clears = std::ranges::count(decoded.codes, mornak::CLEAR_CODE, &TracedCode::code);
        EXPECT_EQ(seen.last.taken, row.input.size());
        EXPECT_EQ(seen.last.written, pass.output.size());
        EXPECT_EQ(seen.last.dictionary, clears);
        EXPECT_EQ(seen.fresh_dictionaries, clears);
    }
    // Every 64 KiB, also within one call that brings them all, then the end.
    const Bytes text = text_like(200000, 32);
    Seen seen;
    mornak_encoder_set_progress(encoder.get(), Seen::record, &seen);
    Pass pass{text, ALL, ALL};
    ASSERT_EQ(convert(encoder.get(), pass), MORNAK_OK);
    EXPECT_EQ(seen.taken, (std::vector<std::uint64_t>{65536, 131072, 196608, 200000}));
}

TEST(Streaming, UnknownSizeGivesTheHeaderAtTheEndAndTheSameStream) {
    const Encoder encoder(mornak_encoder_create());
    for (const Bytes& input : {Bytes{}, bytes_of("abc"), text_like(300000, 31)}) {
        const Bytes bk = compress(input);
        // One byte of room a call keeps the last bytes waiting in the encoder
        // after the closing codes are written: the header is not ready then.
        for (const std::size_t room : {std::size_t{1}, std::size_t{4096}}) {
            SCOPED_TRACE("output room " + std::to_string(room));
            Pass pass{input, 4096, room};
            mornak_encoder_begin(encoder.get(), MORNAK_SIZE_UNKNOWN);
            unsigned char header[MORNAK_HEADER_BYTES];
            mornak_status status = MORNAK_MORE;
            while (status == MORNAK_MORE) {
                ASSERT_EQ(mornak_encoder_header(encoder.get(), header), MORNAK_ERROR_ORDER);
                status = pass.step([&](mornak_in* in, mornak_out* out, int last) {
                    return mornak_encoder_run(encoder.get(), in, out, last);
                });
            }
            ASSERT_EQ(status, MORNAK_OK);
            // Until patched, the header's length reads as negative: refused.
            std::uint64_t length = 0;
            EXPECT_EQ(mornak_content_size(pass.output.data(), pass.output.size(), &length),
                      MORNAK_ERROR_NEGATIVE_LENGTH);
            ASSERT_EQ(mornak_encoder_header(encoder.get(), header), MORNAK_OK);
            std::copy(header, header + MORNAK_HEADER_BYTES, pass.output.begin());
            EXPECT_TRUE(pass.output == bk);
        }
    }
    // The most a header can give, 2^31 - 1 bytes, is taken whole; one more is
    // refused. Zeros: the quickest bytes to encode.
    const std::vector<std::uint8_t> zeros(std::size_t{1} << 20);
    std::vector<std::uint8_t> room(std::size_t{1} << 16);
    // Offers `count` zeros a MiB at a time, with finish on the last when
    // `finish`; the last status.
    const auto take = [&](std::uint64_t count, bool finish) {
        mornak_status status = MORNAK_MORE;
        std::uint64_t left = count;
        do {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, zeros.size()));
            left -= n;
            mornak_in in{zeros.data(), n, 0};
            const int last = finish && left == 0 ? 1 : 0;
            do {
                mornak_out out{room.data(), room.size(), 0};
                status = mornak_encoder_run(encoder.get(), &in, &out, last);
            } while (status == MORNAK_MORE && (in.pos != in.size || last != 0));
        } while (status == MORNAK_MORE && left != 0);
        return status;
    };
    mornak_encoder_begin(encoder.get(), MORNAK_SIZE_UNKNOWN);
    ASSERT_EQ(take(MORNAK_MAX_INPUT, true), MORNAK_OK);
    unsigned char header[MORNAK_HEADER_BYTES];
    ASSERT_EQ(mornak_encoder_header(encoder.get(), header), MORNAK_OK);
    EXPECT_EQ(Bytes(header, header + MORNAK_HEADER_BYTES), (Bytes{'b', 'o', 'o', 'k', 0xFF, 0xFF, 0xFF, 0x7F}));
    mornak_encoder_begin(encoder.get(), MORNAK_SIZE_UNKNOWN);
    ASSERT_EQ(take(MORNAK_MAX_INPUT, false), MORNAK_MORE);
    EXPECT_EQ(take(1, false), MORNAK_ERROR_TOO_LARGE);
}

TEST(Streaming, InterleavedContextsKeepTheirOwnStreams) {
    const Bytes a = text_like(2 << 20, 41) + random_bytes(300000, 42);
    const Bytes b = random_bytes(200000, 43) + text_like(1 << 20, 44);
    const Bytes bk_a = compress(a), bk_b = compress(b);
    const Encoder e1(mornak_encoder_create()), e2(mornak_encoder_create());
    const Decoder d1(mornak_decoder_create()), d2(mornak_decoder_create());
    Pass ca{a, 5000, 3000}, cb{b, 7000, 2000}, ra{bk_a, 3000, 6000}, rb{bk_b, 2000, 9000};
    mornak_encoder_begin(e1.get(), static_cast<std::int64_t>(a.size()));
    mornak_encoder_begin(e2.get(), static_cast<std::int64_t>(b.size()));
    mornak_decoder_begin(d1.get());
    mornak_decoder_begin(d2.get());
    const auto encode_with = [](mornak_encoder* e) {
        return [e](mornak_in* in, mornak_out* out, int last) { return mornak_encoder_run(e, in, out, last); };
    };
    const auto decode_with = [](mornak_decoder* d) {
        return [d](mornak_in* in, mornak_out* out, int last) { return mornak_decoder_run(d, in, out, last); };
    };
    // Each call of one context comes between calls of the three others.
    std::array<mornak_status, 4> status{MORNAK_MORE, MORNAK_MORE, MORNAK_MORE, MORNAK_MORE};
    while (std::ranges::count(status, MORNAK_MORE) != 0) {
        status[0] = status[0] == MORNAK_MORE ? ca.step(encode_with(e1.get())) : status[0];
        status[1] = status[1] == MORNAK_MORE ? rb.step(decode_with(d2.get())) : status[1];
        status[2] = status[2] == MORNAK_MORE ? cb.step(encode_with(e2.get())) : status[2];
        status[3] = status[3] == MORNAK_MORE ? ra.step(decode_with(d1.get())) : status[3];
    }
    EXPECT_EQ(status, (std::array<mornak_status, 4>{MORNAK_OK, MORNAK_OK, MORNAK_OK, MORNAK_OK}));
    EXPECT_TRUE(ca.output == bk_a);
    EXPECT_TRUE(cb.output == bk_b);
    EXPECT_TRUE(ra.output == a);
    EXPECT_TRUE(rb.output == b);
}

TEST(Streaming, ContextsOnSeveralThreadsAtOnce) {
    // Each thread converts, restores and verifies its own input, in chunks
    // and in one piece; run under ThreadSanitizer by the tsan preset.
    constexpr int THREADS = 4;
    std::vector<Bytes> inputs;
    for (int t = 0; t < THREADS; ++t) {
        inputs.push_back(t % 2 == 0 ? text_like(600000, 50 + static_cast<std::uint32_t>(t))
                                    : random_bytes(300000, 50 + static_cast<std::uint32_t>(t)));
    }
    std::vector<int> good(THREADS, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&, t] {
            const Bytes& input = inputs[static_cast<std::size_t>(t)];
            const Encoder e(mornak_encoder_create());
            const Decoder d(mornak_decoder_create());
            Pass converting{input, 3000 + static_cast<std::size_t>(t), 1000};
            if (convert(e.get(), converting) != MORNAK_OK) {
                return;
            }
            Pass restoring{converting.output, 777, 5000};
            Bytes whole(input.size());
            std::size_t size = 0;
            good[static_cast<std::size_t>(t)] =
                restore(d.get(), restoring) == MORNAK_OK && restoring.output == input &&
                mornak_verify(converting.output.data(), converting.output.size()) == MORNAK_OK &&
                mornak_decompress(converting.output.data(), converting.output.size(), whole.data(), whole.size(),
                                  &size) == MORNAK_OK &&
                whole == input;
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(good, std::vector<int>(THREADS, 1));
}

}  // namespace
