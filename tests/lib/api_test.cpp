// The C API as a caller meets it: misuse is a status, never a crash; the
// one-shot calls never write past their buffers; and every damaged file
// fails with its own status at its own byte, restored in one piece or a byte
// at a time, and verified.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <utility>

#include "damaged_files.hpp"
#include "decoder_trace.hpp"
#include "format.hpp"
#include "mornak.h"
#include "support.hpp"

namespace {

struct Free {
    void operator()(mornak_encoder* e) const { mornak_encoder_free(e); }
    void operator()(mornak_decoder* d) const { mornak_decoder_free(d); }
    void operator()(mornak_verifier* v) const { mornak_verifier_free(v); }
};

enum class Context { none, encoder, decoder, verifier };

struct MisuseRow {
    const char* name;
    std::function<mornak_status(mornak_encoder*, mornak_decoder*, mornak_verifier*)> call;
    mornak_status expected;
    Context sticks = Context::none;  // the context that must repeat the error
};

TEST(Api, MisuseIsAStatusAndSticksUntilTheNextBegin) {
    std::uint8_t byte = 'a';
    std::uint8_t room[64];
    const auto in = [&](std::size_t size = 1, std::size_t pos = 0) { return mornak_in{&byte, size, pos}; };
    const auto out = [&](std::size_t size = sizeof room, std::size_t pos = 0) { return mornak_out{room, size, pos}; };
    const std::vector<MisuseRow> rows = {
        {"encoder_null", [](auto*, auto*, auto*) { return mornak_encoder_begin(nullptr, 0); }, MORNAK_ERROR_NULL},
        {"encoder_run_null_input", [&](auto* e, auto*, auto*) {
             mornak_encoder_begin(e, 1);
             mornak_out o = out();
             return mornak_encoder_run(e, nullptr, &o, 1);
         }, MORNAK_ERROR_NULL, Context::encoder},
        {"encoder_run_data_null_with_a_size", [&](auto* e, auto*, auto*) {
             mornak_encoder_begin(e, 1);
             mornak_in i{nullptr, 1, 0};
             mornak_out o = out();
             return mornak_encoder_run(e, &i, &o, 1);
         }, MORNAK_ERROR_NULL, Context::encoder},
        {"encoder_position_past_size", [&](auto* e, auto*, auto*) {
             mornak_encoder_begin(e, 1);
             mornak_in i = in(1, 2);
             mornak_out o = out();
             return mornak_encoder_run(e, &i, &o, 1);
         }, MORNAK_ERROR_ARGUMENT, Context::encoder},
        {"encoder_size_below_unknown", [](auto* e, auto*, auto*) { return mornak_encoder_begin(e, -2); },
         MORNAK_ERROR_ARGUMENT, Context::encoder},
        {"encoder_size_over_the_header", [](auto* e, auto*, auto*) {
             return mornak_encoder_begin(e, std::int64_t{MORNAK_MAX_INPUT} + 1);
         }, MORNAK_ERROR_TOO_LARGE, Context::encoder},
        {"encoder_takes_the_largest_size", [](auto* e, auto*, auto*) {
             return mornak_encoder_begin(e, MORNAK_MAX_INPUT);
         }, MORNAK_OK},
        {"encoder_run_before_begin", [&](auto*, auto*, auto*) {
             const std::unique_ptr<mornak_encoder, Free> fresh(mornak_encoder_create());
             mornak_in i = in();
             mornak_out o = out();
             return mornak_encoder_run(fresh.get(), &i, &o, 1);
         }, MORNAK_ERROR_ORDER},
        {"size_given_more_bytes_come", [&](auto* e, auto*, auto*) {
             mornak_encoder_begin(e, 0);
             mornak_in i = in();
             mornak_out o = out();
             return mornak_encoder_run(e, &i, &o, 0);
         }, MORNAK_ERROR_INPUT_LONGER, Context::encoder},
        {"size_given_fewer_bytes_come", [&](auto* e, auto*, auto*) {
             mornak_encoder_begin(e, 2);
             mornak_in i = in();
             mornak_out o = out();
             return mornak_encoder_run(e, &i, &o, 1);
         }, MORNAK_ERROR_INPUT_SHORTER, Context::encoder},
        {"encoder_finish_taken_back", [&](auto* e, auto*, auto*) {
             mornak_encoder_begin(e, 1);
             mornak_in i = in();
             mornak_out o = out(1);
             mornak_encoder_run(e, &i, &o, 1);
             return mornak_encoder_run(e, &i, &o, 0);
         }, MORNAK_ERROR_ORDER, Context::encoder},
        {"encoder_input_after_the_end", [&](auto* e, auto*, auto*) {
             mornak_encoder_begin(e, MORNAK_SIZE_UNKNOWN);
             mornak_in none = in(0);
             mornak_out o = out();
             mornak_encoder_run(e, &none, &o, 1);
             mornak_in more = in();
             return mornak_encoder_run(e, &more, &o, 1);
         }, MORNAK_ERROR_ORDER, Context::encoder},
        {"header_of_an_unfinished_unknown_size", [](auto* e, auto*, auto*) {
             mornak_encoder_begin(e, MORNAK_SIZE_UNKNOWN);
             unsigned char header[MORNAK_HEADER_BYTES];
             return mornak_encoder_header(e, header);
         }, MORNAK_ERROR_ORDER},
        {"zero_byte_output_room_is_more", [&](auto* e, auto*, auto*) {
             mornak_encoder_begin(e, 1);
             mornak_in i = in();
             mornak_out o{nullptr, 0, 0};
             return mornak_encoder_run(e, &i, &o, 1);
         }, MORNAK_MORE},
        {"decoder_run_before_begin", [&](auto*, auto*, auto*) {
             const std::unique_ptr<mornak_decoder, Free> fresh(mornak_decoder_create());
             mornak_in i = in();
             mornak_out o = out();
             return mornak_decoder_run(fresh.get(), &i, &o, 1);
         }, MORNAK_ERROR_ORDER},
        {"decoder_null_output", [&](auto*, auto* d, auto*) {
             mornak_decoder_begin(d);
             mornak_in i = in();
             return mornak_decoder_run(d, &i, nullptr, 0);
         }, MORNAK_ERROR_NULL, Context::decoder},
        {"decoder_output_position_past_size", [&](auto*, auto* d, auto*) {
             mornak_decoder_begin(d);
             mornak_in i = in();
             mornak_out o = out(1, 5);
             return mornak_decoder_run(d, &i, &o, 0);
         }, MORNAK_ERROR_ARGUMENT, Context::decoder},
        {"decoder_finish_taken_back", [&](auto*, auto* d, auto*) {
             // A byte of room: the first call leaves two restored bytes waiting.
             const Bytes abc = bk_at_11(3, {97, 98, 99});
             mornak_decoder_begin(d);
             mornak_in i{abc.data(), abc.size(), 0};
             mornak_out o = out(1);
             mornak_decoder_run(d, &i, &o, 1);
             return mornak_decoder_run(d, &i, &o, 0);
         }, MORNAK_ERROR_ORDER, Context::decoder},
        {"decoder_fault_sticks_before_any_check_of_the_call", [&](auto*, auto* d, auto*) {
             mornak_decoder_begin(d);
             mornak_in i = in();
             mornak_out o = out();
             mornak_decoder_run(d, &i, &o, 1);  // one byte of a header: cut
             return mornak_decoder_run(d, &i, nullptr, 0);
         }, MORNAK_ERROR_HEADER_CUT, Context::decoder},
        {"verifier_input_after_the_end", [&](auto*, auto*, auto* v) {
             const Bytes abc = bk_at_11(3, {97, 98, 99});
             mornak_verifier_begin(v);
             mornak_in whole{abc.data(), abc.size(), 0};
             mornak_verifier_run(v, &whole, 1);
             mornak_in more = in();
             return mornak_verifier_run(v, &more, 1);
         }, MORNAK_ERROR_ORDER, Context::verifier},
        {"decoder_input_after_the_end", [&](auto*, auto* d, auto*) {
             const Bytes abc = bk_at_11(3, {97, 98, 99});
             mornak_decoder_begin(d);
             mornak_in whole{abc.data(), abc.size(), 0};
             mornak_out o = out();
             mornak_decoder_run(d, &whole, &o, 1);
             mornak_in more = in();
             return mornak_decoder_run(d, &more, &o, 1);
         }, MORNAK_ERROR_ORDER, Context::decoder},
        {"decoder_zero_byte_output_room_is_more", [&](auto*, auto* d, auto*) {
             const Bytes abc = bk_at_11(3, {97, 98, 99});
             mornak_decoder_begin(d);
             mornak_in i{abc.data(), abc.size(), 0};
             mornak_out o{nullptr, 0, 0};
             return mornak_decoder_run(d, &i, &o, 1);
         }, MORNAK_MORE},
        {"decoder_run_direct_without_a_run", [&](auto*, auto* d, auto*) {
             mornak_decoder_begin(d);
             mornak_in i = in();
             std::size_t size = 0;
             return mornak_decoder_run_direct(d, &i, 0, nullptr, &size);
         }, MORNAK_ERROR_NULL, Context::decoder},
        // One order for every call: a missing buffer, a position past its
        // size, no data for a size, then the order of calls.
        {"decoder_position_past_size_before_data_missing_for_a_size", [&](auto*, auto* d, auto*) {
             mornak_decoder_begin(d);
             mornak_in i = in(1, 2);
             mornak_out o{nullptr, 5, 0};
             return mornak_decoder_run(d, &i, &o, 0);
         }, MORNAK_ERROR_ARGUMENT, Context::decoder},
        {"decoder_run_direct_without_a_run_before_begin", [&](auto*, auto*, auto*) {
             const std::unique_ptr<mornak_decoder, Free> fresh(mornak_decoder_create());
             mornak_in i = in();
             const unsigned char* data = nullptr;
             return mornak_decoder_run_direct(fresh.get(), &i, 0, &data, nullptr);
         }, MORNAK_ERROR_NULL},
        {"decoder_input_room_before_begin", [&](auto*, auto*, auto*) {
             const std::unique_ptr<mornak_decoder, Free> fresh(mornak_decoder_create());
             unsigned char* data = nullptr;
             std::size_t size = 0;
             return mornak_decoder_input_room(fresh.get(), &data, &size);
         }, MORNAK_ERROR_ORDER},
        {"decoder_input_room_without_a_size", [&](auto*, auto* d, auto*) {
             mornak_decoder_begin(d);
             unsigned char* data = nullptr;
             return mornak_decoder_input_room(d, &data, nullptr);
         }, MORNAK_ERROR_NULL, Context::decoder},
        {"verifier_run_before_begin", [&](auto*, auto*, auto*) {
             const std::unique_ptr<mornak_verifier, Free> fresh(mornak_verifier_create());
             mornak_in i = in();
             return mornak_verifier_run(fresh.get(), &i, 1);
         }, MORNAK_ERROR_ORDER},
        {"verifier_null_input", [](auto*, auto*, auto* v) {
             mornak_verifier_begin(v);
             return mornak_verifier_run(v, nullptr, 1);
         }, MORNAK_ERROR_NULL, Context::verifier},
        {"verifier_position_past_size", [&](auto*, auto*, auto* v) {
             mornak_verifier_begin(v);
             mornak_in i = in(1, 2);
             return mornak_verifier_run(v, &i, 1);
         }, MORNAK_ERROR_ARGUMENT, Context::verifier},
        {"compress_without_a_size_pointer", [&](auto*, auto*, auto*) {
             return mornak_compress(&byte, 1, room, sizeof room, nullptr);
         }, MORNAK_ERROR_NULL},
        {"compress_null_source_with_a_size", [&](auto*, auto*, auto*) {
             std::size_t size = 0;
             return mornak_compress(nullptr, 1, room, sizeof room, &size);
         }, MORNAK_ERROR_NULL},
        {"content_size_without_a_size_pointer", [](auto*, auto*, auto*) {
             const Bytes abc = bk_at_11(3, {97, 98, 99});
             return mornak_content_size(abc.data(), abc.size(), nullptr);
         }, MORNAK_ERROR_NULL},
        {"verify_null_with_a_size", [](auto*, auto*, auto*) { return mornak_verify(nullptr, 3); }, MORNAK_ERROR_NULL},
    };
    const std::unique_ptr<mornak_encoder, Free> encoder(mornak_encoder_create());
    const std::unique_ptr<mornak_decoder, Free> decoder(mornak_decoder_create());
    const std::unique_ptr<mornak_verifier, Free> verifier(mornak_verifier_create());
    for (const MisuseRow& row : rows) {
        SCOPED_TRACE(row.name);
        const mornak_status status = row.call(encoder.get(), decoder.get(), verifier.get());
        EXPECT_EQ(status, row.expected) << mornak_status_name(status);
        // Sticky: the next call of the same context says it again.
        mornak_in i = in(0);
        mornak_out o = out();
        switch (row.sticks) {
            case Context::none:
                break;
            case Context::encoder:
                EXPECT_EQ(mornak_encoder_run(encoder.get(), &i, &o, 1), status);
                break;
            case Context::decoder:
                EXPECT_EQ(mornak_decoder_run(decoder.get(), &i, &o, 1), status);
                break;
            case Context::verifier:
                EXPECT_EQ(mornak_verifier_run(verifier.get(), &i, 1), status);
                break;
        }
    }
    // A begin clears whatever stuck.
    ASSERT_EQ(mornak_encoder_begin(encoder.get(), 1), MORNAK_OK);
    mornak_in i = in();
    mornak_out o = out();
    EXPECT_EQ(mornak_encoder_run(encoder.get(), &i, &o, 1), MORNAK_OK);
}

struct ShortRoomRow {
    const char* name;
    Bytes input;
    std::vector<std::size_t> short_by;  // bytes the destination lacks; SIZE_MAX: all of them
};

TEST(Api, OneShotCallsNeverWritePastTheirBuffers) {
    const Bytes pairs = distinct_pairs();
    const std::vector<ShortRoomRow> rows = {
        {"text", text_like(50000, 61), {1, 7, SIZE_MAX}},
        // Literals up to one byte past the first CLEAR_CODE: the step that
        // writes the last code before it and the CLEAR_CODE starts at byte
        // 122787 of the 122798-byte file and stores words up to byte 122796.
        {"room_ends_inside_the_step_that_writes_a_clear_code", Bytes(pairs.begin(), pairs.begin() + 65279), {2}},
    };
    for (const ShortRoomRow& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes& input = row.input;
        Bytes bk(mornak_compress_bound(input.size()) + 64, 0xAA);
        std::size_t size = 0;
        ASSERT_EQ(mornak_compress(input.data(), input.size(), bk.data(), bk.size() - 64, &size), MORNAK_OK);
        EXPECT_LE(size, mornak_compress_bound(input.size()));
        bk.resize(size);
        for (const std::size_t short_by : row.short_by) {
            SCOPED_TRACE(short_by);
            const std::size_t lacking = std::min(short_by, size);
            Bytes room(size + 16, 0xAA);
            std::size_t got = 1;
            EXPECT_EQ(mornak_compress(input.data(), input.size(), room.data(), size - lacking, &got),
                      MORNAK_ERROR_DST_TOO_SMALL);
            EXPECT_EQ(got, 0u);
            EXPECT_EQ(Bytes(room.begin() + static_cast<long>(size - lacking), room.end()), Bytes(16 + lacking, 0xAA));
            Bytes back(input.size() + 16, 0xAA);
            EXPECT_EQ(mornak_decompress(bk.data(), bk.size(), back.data(), input.size() - std::min(short_by, input.size()),
                                        &got),
                      MORNAK_ERROR_DST_TOO_SMALL);
            EXPECT_EQ(got, 0u);
            EXPECT_EQ(back, Bytes(input.size() + 16, 0xAA));  // refused before a byte was written
        }
        Bytes back(input.size());
        std::size_t got = 0;
        EXPECT_EQ(mornak_decompress(bk.data(), bk.size(), back.data(), back.size(), &got), MORNAK_OK);
        EXPECT_EQ(got, input.size());
        EXPECT_TRUE(back == input);
    }
}

TEST(Api, CompressBoundHoldsForTheWorstInputs) {
    for (const Bytes& input : {Bytes{}, Bytes{0}, random_bytes(1 << 20, 62), distinct_pairs() + distinct_pairs()}) {
        Bytes bk(mornak_compress_bound(input.size()));
        std::size_t size = 0;
        EXPECT_EQ(mornak_compress(input.data(), input.size(), bk.data(), bk.size(), &size), MORNAK_OK);
    }
    EXPECT_EQ(mornak_compress_bound(std::uint64_t{MORNAK_MAX_INPUT} + 1), 0u);
    EXPECT_GE(mornak_compress_bound(MORNAK_MAX_INPUT), std::size_t{2} * MORNAK_MAX_INPUT);
}

TEST(Api, StatusNamesAndVersion) {
    std::set<std::string> names;
    for (int s = MORNAK_ERROR_NOT_CANONICAL; s <= MORNAK_MORE; ++s) {
        names.insert(mornak_status_name(static_cast<mornak_status>(s)));
    }
    EXPECT_EQ(names.size(), static_cast<std::size_t>(MORNAK_MORE - MORNAK_ERROR_NOT_CANONICAL + 1));
    EXPECT_EQ(names.count("MORNAK_UNKNOWN_STATUS"), 0u);
    EXPECT_STREQ(mornak_status_name(MORNAK_ERROR_UNDEFINED_CODE), "MORNAK_ERROR_UNDEFINED_CODE");
    EXPECT_STREQ(mornak_status_name(static_cast<mornak_status>(2)), "MORNAK_UNKNOWN_STATUS");
    EXPECT_STREQ(mornak_status_name(static_cast<mornak_status>(MORNAK_ERROR_NOT_CANONICAL - 1)), "MORNAK_UNKNOWN_STATUS");
    EXPECT_EQ(mornak_version(), static_cast<unsigned>(MORNAK_VERSION_NUMBER));
    // The words for any status fit the room the header gives, at the largest numbers.
    for (int s = MORNAK_ERROR_NOT_CANONICAL - 1; s <= MORNAK_MORE + 1; ++s) {
        const mornak_fault worst{static_cast<mornak_status>(s), UINT64_MAX, UINT32_MAX, UINT64_MAX};
        char text[MORNAK_FAULT_TEXT_BYTES];
        const std::size_t length = mornak_fault_text(&worst, 0, UINT64_MAX, text, sizeof text);
        EXPECT_LT(length, sizeof text) << mornak_status_name(worst.status);
        EXPECT_EQ(std::strlen(text), length);
    }
    char cut[9] = "xxxxxxxx";
    EXPECT_EQ(mornak_fault_text(nullptr, 0, 0, cut, 4), std::strlen("MORNAK_ERROR_NULL"));
    EXPECT_STREQ(cut, "MOR");
}

// A .bk file of `length` bytes whose stream is `codes`.
Bytes bk_of(std::uint32_t length, const std::vector<std::pair<std::uint32_t, int>>& codes) {
    return pack({{0x626F6F6B, 32}, {__builtin_bswap32(length), 32}}) + pack(codes);
}

std::uint64_t bits_in(const std::vector<std::pair<std::uint32_t, int>>& codes) {
    std::uint64_t bits = 0;
    for (const auto& [code, width] : codes) {
        bits += static_cast<std::uint64_t>(width);
    }
    return bits;
}

// unmornak's words for `fault` of `file`.
std::string words_of(const mornak_fault& fault, const Bytes& file) {
    std::uint64_t length = 0;
    if (mornak_content_size(file.data(), file.size(), &length) != MORNAK_OK) {
        length = 0;
    }
    char text[MORNAK_FAULT_TEXT_BYTES];
    mornak_fault_text(&fault, file.size(), length, text, sizeof text);
    return text;
}

// The rows of the shared table, and damage that only a large stream can hold.
std::vector<DamagedFile> damaged_rows() {
    std::vector<DamagedFile> rows = damaged_files();
    const Bytes pairs = distinct_pairs();

    // The entry being made is no code right after a CLEAR_CODE either.
    auto full = literal_codes(std::span(pairs).first(65278));
    full.emplace_back(256, 16);
    const std::uint64_t fresh_at = 8 + bits_in(full) / 8;
    full.insert(full.end(), {{258, 11}, {257, 11}, {0, 11}, {0, 11}, {0, 11}});
    rows.push_back({"next_entry_right_after_a_clear_code", bk_of(65279, full),
                    {MORNAK_ERROR_UNDEFINED_CODE, fresh_at, 258, 65278}, MORNAK_ERROR_UNDEFINED_CODE, fresh_at,
                    "damaged: code 258, found at byte " + std::to_string(fresh_at) + ", names no entry yet"});

    // Closing codes 16 bits wide: a set bit among the first 16 of their 48.
    auto wide = literal_codes(std::span(pairs).first(40000));
    wide.emplace_back(257, 16);
    const std::uint64_t filler_at = 8 + bits_in(wide) / 8;
    wide.insert(wide.end(), {{0x8000, 16}, {0, 16}, {0, 16}});
    rows.push_back({"sixteen_bit_closing_codes_not_zero_in_their_first_bits", bk_of(40000, wide),
                    {MORNAK_ERROR_FILLER_NOT_ZERO, filler_at, 0, 40000}, MORNAK_ERROR_FILLER_NOT_ZERO, filler_at,
                    "damaged: the closing codes found at byte " + std::to_string(filler_at) +
                        ", after END_CODE, are not zero"});

    // A header that gives less than the stream holds, past the decoder's
    // window of recent output: not a byte past it may come out.
    const Bytes text = text_like(4 << 20, 81);
    Bytes claims_less = compress(text);
    const std::uint32_t claim = 3 << 20;
    std::copy_n(mornak::make_header(claim).begin(), MORNAK_HEADER_BYTES, claims_less.begin());
    const auto codes = decode_stream(std::span(claims_less).subspan(MORNAK_HEADER_BYTES)).codes;
    std::uint64_t before = 0;
    std::size_t k = 0;
    for (; before + codes[k].length <= claim; ++k) {
        before += codes[k].length;
    }
    const std::uint64_t over_at = 8 + (codes[k].end_bit - static_cast<std::uint64_t>(codes[k].width)) / 8;
    rows.push_back({"header_claiming_less_than_a_large_stream_holds", claims_less,
                    {MORNAK_ERROR_LONGER_THAN_HEADER, over_at, codes[k].code, before}, MORNAK_ERROR_LONGER_THAN_HEADER,
                    over_at,
                    "damaged: code " + std::to_string(codes[k].code) + ", found at byte " + std::to_string(over_at) +
                        ", restores more than the 3145728 bytes the header gives"});
    return rows;
}

TEST(Api, DamagedFilesFailWithTheirOwnStatusAtTheirByteWhateverTheChunks) {
    const std::unique_ptr<mornak_decoder, Free> decoder(mornak_decoder_create());
    const std::unique_ptr<mornak_verifier, Free> verifier(mornak_verifier_create());
    for (const DamagedFile& row : damaged_rows()) {
        SCOPED_TRACE(row.name);
        const mornak_fault& expected = row.restoring;
        Bytes whole(4 << 20);
        std::size_t got = 0;
        EXPECT_EQ(mornak_decompress(row.file.data(), row.file.size(), whole.data(), whole.size(), &got),
                  expected.status);
        EXPECT_EQ(got, expected.restored);

        // A byte at a time in, a byte at a time out.
        mornak_decoder_begin(decoder.get());
        mornak_status status = MORNAK_MORE;
        for (std::size_t taken = 0; status == MORNAK_MORE;) {
            const std::size_t offer = taken < row.file.size() ? 1 : 0;
            mornak_in in{row.file.data(), taken + offer, taken};
            std::uint8_t byte = 0;
            mornak_out out{&byte, 1, 0};
            status = mornak_decoder_run(decoder.get(), &in, &out, in.size == row.file.size() ? 1 : 0);
            // A small file's every byte is taken as it is offered; a large
            // one's restored bytes may hold the input back, but every call
            // does something.
            if (row.file.size() < 64) {
                ASSERT_EQ(in.pos, in.size) << "a byte offered was not taken";
            }
            ASSERT_TRUE(in.pos != taken || out.pos != 0 || status != MORNAK_MORE) << "a call that did nothing";
            taken = in.pos;
        }
        mornak_fault fault;
        mornak_decoder_fault(decoder.get(), &fault);
        const std::string restoring_words = words_of(fault, row.file);
        EXPECT_EQ(status, expected.status);
        EXPECT_EQ(fault.status, expected.status);
        EXPECT_EQ(fault.at_byte, expected.at_byte);
        EXPECT_EQ(fault.code, expected.code);
        EXPECT_EQ(fault.restored, expected.restored);

        // Without a copy, a byte at a time: the runs are the bytes restored
        // before the fault, or all of them.
        mornak_decoder_begin(decoder.get());
        status = MORNAK_MORE;
        std::size_t handed = 0;
        for (std::size_t taken = 0; status == MORNAK_MORE;) {
            mornak_in in{row.file.data(), taken + (taken < row.file.size() ? 1 : 0), taken};
            const unsigned char* run = nullptr;
            std::size_t size = 0;
            status = mornak_decoder_run_direct(decoder.get(), &in, in.size == row.file.size() ? 1 : 0, &run, &size);
            handed += size;
            taken = in.pos;
        }
        EXPECT_EQ(status, expected.status);
        EXPECT_EQ(handed, expected.restored);

        // Verified whole, and a byte at a time (a large file 4 KiB at a time).
        EXPECT_EQ(mornak_verify(row.file.data(), row.file.size()), row.checking);
        const std::size_t chunk = row.file.size() > 65536 ? 4096 : 1;
        mornak_verifier_begin(verifier.get());
        status = MORNAK_MORE;
        for (std::size_t taken = 0; status == MORNAK_MORE;) {
            mornak_in in{row.file.data(), std::min(taken + chunk, row.file.size()), taken};
            status = mornak_verifier_run(verifier.get(), &in, in.size == row.file.size() ? 1 : 0);
            taken = in.pos;
        }
        mornak_verifier_fault(verifier.get(), &fault);
        EXPECT_EQ(status, row.checking);
        EXPECT_EQ(fault.at_byte, row.checking_at);
        EXPECT_EQ(fault.restored, expected.restored);
        EXPECT_EQ(expected.status != MORNAK_OK ? restoring_words : words_of(fault, row.file), row.words);
    }
}

}  // namespace
