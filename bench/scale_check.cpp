// Checks one converted file against its input: the header, then a full round
// trip through the test decoder, including where every CLEAR_CODE stands.
//
//   scale_check INPUT BK
//
// Prints the figures and exits 0 only when everything matches.

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>

#include "format.hpp"
#include "lib/decoder_trace.hpp"

namespace {

std::span<const std::uint8_t> map_file(const char* path) {
    const int fd = ::open(path, O_RDONLY);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        std::perror(path);
        std::exit(1);
    }
    const auto size = static_cast<std::size_t>(st.st_size);
    void* at = size == 0 ? nullptr : ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (at == MAP_FAILED) {
        std::perror(path);
        std::exit(1);
    }
    ::close(fd);
    return {static_cast<const std::uint8_t*>(at), size};
}

int failed(const char* what) {
    std::printf("FAILED: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: scale_check INPUT BK\n");
        return 2;
    }
    const auto input = map_file(argv[1]);
    const auto file = map_file(argv[2]);
    if (file.size() < 8 || std::memcmp(file.data(), "book", 4) != 0) {
        return failed("no \"book\" header");
    }
    std::uint32_t length = 0;
    for (std::size_t i = 8; i-- > 4;) {
        length = length << 8 | file[i];
    }
    std::printf("header: book, %u bytes (input %zu)\n", length, input.size());
    if (length != input.size()) {
        return failed("header length differs from the input");
    }
    const Decoded decoded = decode_stream(file.subspan(8));
    if (!decoded.error.empty()) {
        return failed(decoded.error.c_str());
    }
    if (decoded.bytes.size() != input.size() ||
        std::memcmp(decoded.bytes.data(), input.data(), input.size()) != 0) {
        return failed("decoded bytes differ from the input");
    }
    std::size_t dots = 0;
    if (const std::string rule = check_ratio_rule(decoded, dots); !rule.empty()) {
        return failed(rule.c_str());
    }
    // The longest run of stream bytes between CLEAR_CODEs: past 42,949,672
    // bytes the ratio test's 32-bit bytes_out * 100 wraps.
    std::uint64_t clears = 0, longest = 0, since = 0;
    for (const TracedCode& c : decoded.codes) {
        if (c.code == mornak::CLEAR_CODE) {
            ++clears;
            longest = std::max(longest, c.end_bit / 8 - since);
            since = c.end_bit / 8;
        }
    }
    longest = std::max(longest, decoded.codes.back().end_bit / 8 - since);
    // Input bytes encoded while no entry could be made: the decoder's count
    // reaches the limit one code after the encoder's.
    std::uint64_t full_bytes = 0;
    for (const TracedCode& c : decoded.codes) {
        full_bytes += c.entries >= (1u << mornak::MAX_CODE_BITS) ? c.length : 0;
    }
    std::printf("round trip: exact, %zu codes, %llu CLEAR_CODEs, all where the ratio rule puts them\n",
                decoded.codes.size(), static_cast<unsigned long long>(clears));
    std::printf("input bytes encoded with a full dictionary: %.1f%%\n",
                input.empty() ? 0.0 : 100.0 * static_cast<double>(full_bytes) / static_cast<double>(input.size()));
    std::printf("longest dictionary run: %llu stream bytes%s\n", static_cast<unsigned long long>(longest),
                longest > 42949672 ? " (bytes_out * 100 wrapped within it)" : "");
    return 0;
}
