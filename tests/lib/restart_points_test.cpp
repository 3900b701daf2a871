// Restart points: the index against the points a full decode passes, the
// quick scan, segments restored and checked on their own, reads at any
// offset, and files or indexes that are not what they claim.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "damaged_files.hpp"
#include "decoder_trace.hpp"
#include "round_trip_rows.hpp"
#include "support.hpp"

// Found by the comparisons of vectors of points, outside any namespace.
static bool operator==(const mornak_point& a, const mornak_point& b) {
    return a.bk_bit == b.bk_bit && a.content_offset == b.content_offset;
}

namespace {

using Points = std::vector<mornak_point>;

// The points the tests' decoder passes: the start, then just past each CLEAR_CODE.
Points traced_points(const Bytes& bk, std::size_t length) {
    Points points{{64, 0}};
    std::uint64_t restored = 0;
    for (const TracedCode& c : decode_stream(std::span(bk).subspan(MORNAK_HEADER_BYTES), length).codes) {
        if (c.code == 256) {
            points.push_back({64 + c.end_bit, restored});
        }
        restored += c.length;
    }
    return points;
}

Points index_of(const Bytes& bk, mornak_status expected = MORNAK_OK) {
    Points points(mornak_index_bound(bk.size()));
    std::size_t count = 0;
    EXPECT_EQ(mornak_index(bk.data(), bk.size(), points.data(), points.size(), &count), expected);
    points.resize(count);
    return points;
}

// Restores segment `k` on its own; `next` is where it ended.
Bytes restore_segment(mornak_decoder* d, const Bytes& bk, const mornak_point& from, mornak_point& next) {
    EXPECT_EQ(mornak_decoder_begin_at(d, bk.data(), &from, 1), MORNAK_OK);
    const auto first = static_cast<std::size_t>(from.bk_bit / 8);
    mornak_in in{bk.data() + first, bk.size() - first, 0};
    Bytes out;
    mornak_status status = MORNAK_MORE;
    while (status == MORNAK_MORE) {
        const unsigned char* run = nullptr;
        std::size_t size = 0;
        status = mornak_decoder_run_direct(d, &in, 1, &run, &size);
        out.insert(out.end(), run, run + size);
    }
    EXPECT_EQ(status, MORNAK_OK);
    mornak_decoder_position(d, &next);
    return out;
}

TEST(RestartPoints, IndexScanSegmentsAndChecksOfEveryRoundTripRow) {
    mornak_decoder* d = mornak_decoder_create();
    mornak_verifier* v = mornak_verifier_create();
    for (const RoundTrip& row : round_trip_rows()) {
        SCOPED_TRACE(row.name);
        const Bytes bk = compress(row.input);
        const Points points = index_of(bk);
        if (!row.large) {  // the tests' decoder keeps every code: too many there
            const Points traced = traced_points(bk, row.input.size());
            EXPECT_TRUE(points == traced) << points.size() << " points where the decode passed " << traced.size();
        }
        EXPECT_GE(points.size(), static_cast<std::size_t>(row.clears) + 1);
        EXPECT_LE(points.size(), mornak_index_bound(bk.size()));
        // The scan finds the same places, but those in the last 128 bits.
        Points scanned(mornak_index_bound(bk.size()));
        std::size_t count = 0;
        ASSERT_EQ(mornak_scan_points(bk.data(), bk.size(), scanned.data(), scanned.size(), &count), MORNAK_OK);
        std::size_t near_end = 0;
        for (std::size_t k = 0; k < points.size(); ++k) {
            near_end += k != 0 && points[k].bk_bit + 128 > 8 * bk.size() ? 1u : 0u;
        }
        ASSERT_EQ(count + near_end, points.size());
        for (std::size_t k = 1; k < count; ++k) {
            EXPECT_EQ(scanned[k].bk_bit, points[k].bk_bit);
            EXPECT_EQ(scanned[k].content_offset, MORNAK_OFFSET_UNKNOWN);
        }
        if (row.input.size() > (4u << 20)) {
            continue;  // the index and the scan were enough for the largest
        }
        // Each segment restores its slice of the content and ends at the
        // next point, with its content offset known or not; each checks.
        for (std::size_t k = 0; k < points.size(); ++k) {
            const bool last = k + 1 == points.size();
            const mornak_point end{last ? 8 * bk.size() : points[k + 1].bk_bit,
                                   last ? row.input.size() : points[k + 1].content_offset};
            for (const bool known : {true, false}) {
                const mornak_point from{points[k].bk_bit, known ? points[k].content_offset : MORNAK_OFFSET_UNKNOWN};
                mornak_point next{};
                const Bytes got = restore_segment(d, bk, from, next);
                const auto at = row.input.begin() + static_cast<long>(points[k].content_offset);
                EXPECT_TRUE(got == Bytes(at, row.input.begin() + static_cast<long>(end.content_offset)));
                EXPECT_EQ(next.bk_bit, end.bk_bit);
                EXPECT_EQ(next.content_offset, end.content_offset - (known ? 0 : points[k].content_offset));
                mornak_point checked{};
                EXPECT_EQ(mornak_verifier_check_segment(v, bk.data(), bk.size(), &from, &checked), MORNAK_OK);
                EXPECT_EQ(checked.bk_bit, end.bk_bit);
            }
        }
    }
    mornak_verifier_free(v);
    mornak_decoder_free(d);
}

TEST(RestartPoints, ReadAtGivesTheSlicesOfTheContent) {
    mornak_decoder* d = mornak_decoder_create();
    for (const RoundTrip& row : round_trip_rows()) {
        if (row.large || (row.clears == 0 && row.name != "empty" && row.name != "text")) {
            continue;
        }
        SCOPED_TRACE(row.name);
        const Bytes bk = compress(row.input);
        const Points points = index_of(bk);
        const std::uint64_t end = row.input.size();
        // At the start, each point, one byte before it, the end, past it.
        std::vector<std::uint64_t> offsets{0, end == 0 ? 0 : end - 1, end, end + 5};
        for (const mornak_point& p : points) {
            offsets.push_back(p.content_offset);
            offsets.push_back(p.content_offset == 0 ? 0 : p.content_offset - 1);
        }
        for (const std::uint64_t offset : offsets) {
            for (const std::size_t length : {std::size_t{0}, std::size_t{1}, std::size_t{4096}, std::size_t{300000}}) {
                SCOPED_TRACE("offset " + std::to_string(offset) + ", length " + std::to_string(length));
                Bytes got(length, 0xEE);
                std::size_t written = 99;
                ASSERT_EQ(mornak_decoder_read_at(d, bk.data(), bk.size(), points.data(), points.size(), offset,
                                                 got.data(), length, &written),
                          MORNAK_OK);
                const std::uint64_t from = std::min(offset, end);
                const std::uint64_t want = std::min<std::uint64_t>(length, end - from);
                ASSERT_EQ(written, want);
                const auto at = row.input.begin() + static_cast<long>(from);
                EXPECT_TRUE(std::equal(at, at + static_cast<long>(want), got.begin()));
                EXPECT_EQ(std::count(got.begin() + static_cast<long>(want), got.end(), 0xEE),
                          static_cast<long>(length - want));
            }
        }
    }
    mornak_decoder_free(d);
}

TEST(RestartPoints, DamagedFilesFailAsTheDecoderFails) {
    mornak_decoder* d = mornak_decoder_create();
    mornak_verifier* v = mornak_verifier_create();
    for (const DamagedFile& row : damaged_files()) {
        SCOPED_TRACE(row.name);
        Points points(mornak_index_bound(row.file.size()));
        std::size_t count = 0;
        mornak_fault fault{};
        EXPECT_EQ(mornak_index_with_fault(row.file.data(), row.file.size(), points.data(), points.size(), &count,
                                          &fault),
                  row.restoring.status);
        EXPECT_EQ(fault.status, row.restoring.status);
        EXPECT_EQ(fault.at_byte, row.restoring.at_byte);
        EXPECT_EQ(fault.code, row.restoring.code);
        EXPECT_EQ(fault.restored, row.restoring.restored);
        if (count == 0) {
            continue;
        }
        // Reading up to the byte the fault kept from coming meets it, unless
        // the whole content came first; checking the one segment meets it.
        std::uint64_t length = 0;
        mornak_content_size(row.file.data(), row.file.size(), &length);
        Bytes all(row.restoring.restored + 1);
        std::size_t got = 0;
        EXPECT_EQ(mornak_decoder_read_at(d, row.file.data(), row.file.size(), points.data(), count, 0, all.data(),
                                         all.size(), &got),
                  row.restoring.restored < length ? row.restoring.status : MORNAK_OK);
        EXPECT_EQ(got, std::min<std::uint64_t>(row.restoring.restored, length));
        mornak_point next{};
        const mornak_status checked = mornak_verifier_check_segment(v, row.file.data(), row.file.size(), &points[0], &next);
        mornak_verifier_fault(v, &fault);
        if (row.restoring.status != MORNAK_OK) {
            EXPECT_EQ(checked, row.restoring.status);
            EXPECT_EQ(fault.at_byte, row.restoring.at_byte);
        } else if (row.checking == MORNAK_ERROR_NOT_CANONICAL) {
            EXPECT_EQ(checked, MORNAK_ERROR_NOT_CANONICAL);
        }
    }
    mornak_verifier_free(v);
    mornak_decoder_free(d);
}

TEST(RestartPoints, IndexThatIsNotTheFilesIsRefused) {
    const Bytes input = random_bytes(700000, 2);
    const Bytes bk = compress(input);
    const Points points = index_of(bk);
    ASSERT_GE(points.size(), 3u);
    const auto changed = [&](std::size_t k, mornak_point p) {
        Points other = points;
        other[k] = p;
        return other;
    };
    const std::uint64_t far = points[2].content_offset + 10;
    struct Row {
        std::string name;
        Points index;
        std::uint64_t offset;
        std::size_t count = SIZE_MAX;  // of index, when not all
    };
    const std::vector<Row> rows = {
        {"first_point_not_the_start", changed(0, {72, 0}), 5},
        {"point_not_after_a_clear_code", changed(2, {points[2].bk_bit + 1, points[2].content_offset}), far},
        {"point_past_the_file", changed(2, {8 * bk.size() + 64, points[2].content_offset}), far},
        {"points_out_of_order", changed(1, {points[1].bk_bit, points[2].content_offset + 1}), far},
        {"points_swapped", [&] {
             Points swapped = points;
             std::swap(swapped[1], swapped[2]);
             return swapped;
         }(), far},
        {"no_points", points, 0, 0},
    };
    mornak_decoder* d = mornak_decoder_create();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes got(100);
        std::size_t written = 0;
        EXPECT_EQ(mornak_decoder_read_at(d, bk.data(), bk.size(), row.index.data(),
                                         std::min(row.count, row.index.size()), row.offset, got.data(), got.size(),
                                         &written),
                  MORNAK_ERROR_ARGUMENT);
        EXPECT_EQ(written, 0u);
    }
    mornak_decoder_free(d);
}

TEST(RestartPoints, DifferenceFarFromTheEndIsFoundAndTheRestStillRestored) {
    // Text written one literal per byte restores whole but is not what the
    // encoder writes; the difference comes megabytes before the end.
    const Bytes text = text_like(1500000, 9);
    auto codes = literal_codes(text);
    codes.insert(codes.end(), {{257, 16}, {0, 16}, {0, 16}, {0, 16}});
    const Bytes bk = pack({{0x626F6F6B, 32}, {__builtin_bswap32(static_cast<std::uint32_t>(text.size())), 32}}) +
                     pack(codes);
    EXPECT_EQ(mornak_verify(bk.data(), bk.size()), MORNAK_ERROR_NOT_CANONICAL);
    mornak_verifier* v = mornak_verifier_create();
    const mornak_point start{64, 0};
    mornak_point next{};
    EXPECT_EQ(mornak_verifier_check_segment(v, bk.data(), bk.size(), &start, &next), MORNAK_ERROR_NOT_CANONICAL);
    mornak_verifier_free(v);
}

}  // namespace
