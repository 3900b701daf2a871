// The library in this process, without a program around it: converting and
// restoring one file, in one piece and in 64 KiB chunks both ways, and
// finding its restart points (MB/s of the content it describes).
//
//   library_speed FILE [ROUNDS [WAY]]
//   -> one line per way (or only WAY): "WAY MB_PER_S_MEDIAN MIN MAX", MB = 10^6 bytes of FILE
//
// The ways take turns round by round, so a drift of the machine's speed hits
// them alike. The contexts are made once; the one-shot calls make their own
// each time, as a caller of them pays for.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mornak.h"

namespace {

using Bytes = std::vector<unsigned char>;
constexpr std::size_t CHUNK = 64 * 1024;

[[noreturn]] void fail(const char* what, mornak_status status) {
    std::fprintf(stderr, "library_speed: %s: %s\n", what, mornak_status_name(status));
    std::exit(1);
}

// Runs a streaming context over `in` in CHUNK pieces both ways; the output
// lands in `out`, which is large enough.
template <typename Run>
std::size_t in_chunks(const Bytes& in, Bytes& out, Run run) {
    mornak_in source{in.data(), 0, 0};
    std::size_t written = 0;
    mornak_status status = MORNAK_MORE;
    while (status == MORNAK_MORE) {
        if (source.pos == source.size) {
            source.size = std::min(in.size(), source.size + CHUNK);
        }
        mornak_out sink{out.data() + written, std::min(CHUNK, out.size() - written), 0};
        status = run(&source, &sink, source.size == in.size() ? 1 : 0);
        written += sink.pos;
    }
    if (status != MORNAK_OK) {
        fail("streaming", status);
    }
    return written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: library_speed FILE [ROUNDS]\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    const Bytes input{std::istreambuf_iterator<char>(file), {}};
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    Bytes bk(mornak_compress_bound(input.size()));
    std::size_t bk_size = 0;
    if (const mornak_status s = mornak_compress(input.data(), input.size(), bk.data(), bk.size(), &bk_size); s != 0) {
        fail("compress", s);
    }
    bk.resize(bk_size);
    Bytes scratch(std::max(bk.size(), input.size()) + CHUNK);
    mornak_encoder* encoder = mornak_encoder_create();
    mornak_decoder* decoder = mornak_decoder_create();

    struct Way {
        const char* name;
        std::vector<double> seconds;
    };
    std::vector<Way> ways = {{"convert_one_shot", {}}, {"convert_streaming", {}},
                             {"restore_one_shot", {}}, {"restore_streaming", {}}, {"index", {}}};
    std::vector<mornak_point> points(mornak_index_bound(bk.size()));
    for (int round = 0; round <= rounds; ++round) {  // round 0 warms up
        for (std::size_t w = 0; w < ways.size(); ++w) {
            if (argc > 3 && std::string(argv[3]) != ways[w].name) {
                continue;
            }
            const auto start = std::chrono::steady_clock::now();
            std::size_t size = 0;
            mornak_status status = MORNAK_OK;
            switch (w) {
                case 0:
                    status = mornak_compress(input.data(), input.size(), scratch.data(), scratch.size(), &size);
                    break;
                case 1:
                    mornak_encoder_begin(encoder, static_cast<std::int64_t>(input.size()));
                    size = in_chunks(input, scratch, [&](mornak_in* i, mornak_out* o, int last) {
                        return mornak_encoder_run(encoder, i, o, last);
                    });
                    break;
                case 2:
                    status = mornak_decompress(bk.data(), bk.size(), scratch.data(), scratch.size(), &size);
                    break;
                case 4:
                    status = mornak_index(bk.data(), bk.size(), points.data(), points.size(), &size);
                    size = input.size();
                    break;
                default:
                    mornak_decoder_begin(decoder);
                    size = in_chunks(bk, scratch, [&](mornak_in* i, mornak_out* o, int last) {
                        return mornak_decoder_run(decoder, i, o, last);
                    });
                    break;
            }
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            if (status != MORNAK_OK || size != (w < 2 ? bk.size() : input.size())) {
                fail(ways[w].name, status);
            }
            if (round > 0) {
                ways[w].seconds.push_back(took.count());
            }
        }
    }
    for (auto& way : ways) {
        if (way.seconds.empty()) {
            continue;
        }
        std::ranges::sort(way.seconds);
        const auto mb_per_s = [&](double s) { return static_cast<double>(input.size()) / s / 1e6; };
        std::printf("%s %.1f %.1f %.1f\n", way.name, mb_per_s(way.seconds[way.seconds.size() / 2]),
                    mb_per_s(way.seconds.back()), mb_per_s(way.seconds.front()));
    }
    mornak_encoder_free(encoder);
    mornak_decoder_free(decoder);
    return 0;
}
