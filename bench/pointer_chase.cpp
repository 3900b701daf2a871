// The floor under the encoder: one load that waits for the load before it,
// from memory the size of the encoder's hot tables (640 KiB, within this
// machine's second-level cache), placed like them in huge pages. Each step
// reads the next index from a random cycle through the array, so neither the
// prefetcher nor the out-of-order core can run ahead.
//
//   pointer_chase [KIB] [ROUNDS]
//   -> "ns_per_load MEDIAN MIN MAX" over ROUNDS rounds of 2^24 loads
#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <random>
#include <vector>

int main(int argc, char** argv) {
    const std::size_t kib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 640;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
    const std::size_t n = kib * 1024 / sizeof(std::uint32_t);
    // One cycle through every element, in random order.
    std::vector<std::uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0u);
    std::shuffle(order.begin() + 1, order.end(), std::mt19937(1));
    constexpr std::size_t HUGE_PAGE = std::size_t{2} << 20;
    const std::size_t bytes = (n * sizeof(std::uint32_t) + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
    auto* next = static_cast<std::uint32_t*>(std::aligned_alloc(HUGE_PAGE, bytes));
    ::madvise(next, bytes, MADV_HUGEPAGE);
    for (std::size_t i = 0; i < n; ++i) {
        next[order[i]] = order[(i + 1) % n];
    }
    constexpr std::size_t LOADS = std::size_t{1} << 24;
    std::vector<double> ns;
    std::uint32_t at = 0;
    for (int round = 0; round <= rounds; ++round) {  // round 0 warms up
        const auto start = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < LOADS; ++i) {
            at = next[at];
        }
        const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
        if (round > 0) {
            ns.push_back(took.count() / LOADS);
        }
    }
    std::ranges::sort(ns);
    std::printf("ns_per_load %.2f %.2f %.2f (end %u)\n", ns[ns.size() / 2], ns.front(), ns.back(), at);
    std::free(next);
    return 0;
}
