// The restart points of one .bk file, in this process: how long the index
// takes beside restoring the whole file, how long reads of 4 KiB at random
// offsets take once the index is built, and what restoring its segments on
// more threads could gain, from each segment's own time.
//
//   segment_speed FILE.bk [ROUNDS]
//   -> "index_ms MEDIAN", "decompress_ms MEDIAN", "index_share RATIO",
//      "read_at_4k_ms MEDIAN P90 MAX", "segments N", and for 1, 2, 4, 8, 16
//      threads "ideal_speedup_T X": the time of restoring segment after
//      segment over that of handing each next segment to the first thread
//      free, as unmornak does (no memory or output limit counted)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "mornak.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::ranges::sort(v);
    return v[v.size() / 2];
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "segment_speed: %s\n", what);
    std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        fail("usage: segment_speed FILE.bk [ROUNDS]");
    }
    std::ifstream file(argv[1], std::ios::binary);
    const std::vector<unsigned char> bk{std::istreambuf_iterator<char>(file), {}};
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    std::uint64_t length = 0;
    if (mornak_content_size(bk.data(), bk.size(), &length) != MORNAK_OK) {
        fail("not a .bk file");
    }
    std::vector<unsigned char> content(length);
    std::vector<mornak_point> points(mornak_index_bound(bk.size()));
    std::size_t count = 0;
    std::vector<double> index_ms, restore_ms;
    for (int round = 0; round <= rounds; ++round) {  // round 0 warms up
        auto start = Clock::now();
        if (mornak_index(bk.data(), bk.size(), points.data(), points.size(), &count) != MORNAK_OK) {
            fail("the index failed");
        }
        const double indexed = ms_since(start);
        start = Clock::now();
        std::size_t size = 0;
        if (mornak_decompress(bk.data(), bk.size(), content.data(), content.size(), &size) != MORNAK_OK) {
            fail("restoring failed");
        }
        if (round > 0) {
            index_ms.push_back(indexed);
            restore_ms.push_back(ms_since(start));
        }
    }
    std::printf("index_ms %.3f\ndecompress_ms %.3f\nindex_share %.3f\n", median(index_ms), median(restore_ms),
                median(index_ms) / median(restore_ms));

    mornak_decoder* decoder = mornak_decoder_create();
    std::mt19937_64 random(1);
    std::vector<unsigned char> page(4096);
    std::vector<double> read_ms;
    for (int i = 0; i < 200 * rounds; ++i) {
        const std::uint64_t offset = length <= page.size() ? 0 : random() % (length - page.size());
        std::size_t got = 0;
        const auto start = Clock::now();
        if (mornak_decoder_read_at(decoder, bk.data(), bk.size(), points.data(), count, offset, page.data(),
                                   page.size(), &got) != MORNAK_OK ||
            !std::equal(page.begin(), page.begin() + static_cast<long>(got), content.begin() + static_cast<long>(offset))) {
            fail("a read gave other bytes");
        }
        read_ms.push_back(ms_since(start));
    }
    std::ranges::sort(read_ms);
    std::printf("read_at_4k_ms %.3f %.3f %.3f\n", read_ms[read_ms.size() / 2], read_ms[read_ms.size() * 9 / 10],
                read_ms.back());

    // Each segment restored on its own, the best of the rounds.
    std::vector<double> segment_ms(count, 1e300);
    std::vector<unsigned char> sink(2 << 20);
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t k = 0; k < count; ++k) {
            const auto start = Clock::now();
            mornak_decoder_begin_at(decoder, bk.data(), &points[k], 1);
            const std::size_t first = points[k].bk_bit / 8;
            mornak_in in{bk.data() + first, bk.size() - first, 0};
            mornak_status status = MORNAK_MORE;
            while (status == MORNAK_MORE) {
                mornak_out out{sink.data(), sink.size(), 0};
                status = mornak_decoder_run(decoder, &in, &out, 1);
            }
            segment_ms[k] = std::min(segment_ms[k], ms_since(start));
        }
    }
    mornak_decoder_free(decoder);
    std::printf("segments %zu\n", count);
    double alone = 0;
    for (const double t : segment_ms) {
        alone += t;
    }
    for (const std::size_t threads : {std::size_t{1}, std::size_t{2}, std::size_t{4}, std::size_t{8}, std::size_t{16}}) {
        std::vector<double> free_at(threads, 0.0);
        for (const double t : segment_ms) {
            *std::ranges::min_element(free_at) += t;
        }
        std::printf("ideal_speedup_%zu %.2f\n", threads, alone / std::ranges::max(free_at));
    }
    return 0;
}
