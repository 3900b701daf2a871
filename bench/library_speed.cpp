// The native library's own speed, in this process: converts and restores one
// file held in memory with the one-shot calls, no file or console in the way.
//
//   library_speed FILE RUNS
//   -> "CONVERT_SECONDS RESTORE_SECONDS BK_BYTES", each the median of RUNS
//      timed runs after one that only warms up
//
// The figure the web bench puts beside the page's, which runs the same
// library in WebAssembly.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "mornak.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || std::atoi(argv[2]) < 1) {
        std::fprintf(stderr, "usage: library_speed FILE RUNS\n");
        return 2;
    }
    std::FILE* f = std::fopen(argv[1], "rb");
    if (f == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::vector<unsigned char> input;
    unsigned char block[1 << 16];
    for (std::size_t got; (got = std::fread(block, 1, sizeof block, f)) != 0;) {
        input.insert(input.end(), block, block + got);
    }
    std::fclose(f);

    std::vector<unsigned char> bk(mornak_compress_bound(input.size()));
    std::vector<unsigned char> restored(input.size());
    std::vector<double> convert, restore;
    std::size_t bk_size = 0;
    const int runs = std::atoi(argv[2]);
    for (int i = 0; i <= runs; ++i) {
        auto start = std::chrono::steady_clock::now();
        if (mornak_compress(input.data(), input.size(), bk.data(), bk.size(), &bk_size) != MORNAK_OK) {
            std::fprintf(stderr, "library_speed: converting %s failed\n", argv[1]);
            return 1;
        }
        const double converted = seconds_since(start);
        start = std::chrono::steady_clock::now();
        std::size_t restored_size = 0;
        if (mornak_decompress(bk.data(), bk_size, restored.data(), restored.size(), &restored_size) != MORNAK_OK ||
            restored_size != input.size() || !std::equal(restored.begin(), restored.end(), input.begin())) {
            std::fprintf(stderr, "library_speed: %s did not restore\n", argv[1]);
            return 1;
        }
        if (i > 0) {  // the first run only warms up
            convert.push_back(converted);
            restore.push_back(seconds_since(start));
        }
    }
    std::printf("%.6f %.6f %zu\n", median(convert), median(restore), bk_size);
    return 0;
}
