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
#include "string_table.hpp"

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

// How the encoder's lookups went in its dictionary table: the input encoded
// again through the same table, with a fresh dictionary wherever the stream
// has a CLEAR_CODE.
struct Lookups {
    std::uint64_t pairs = 0;        // strings of one byte, grown through the direct table
    std::uint64_t first_slot = 0;   // longer ones decided at their first slot (found or empty)
    std::uint64_t further = 0;      // longer ones that walked past it
};

bool count_lookups(std::span<const std::uint8_t> input, const Decoded& decoded, Lookups& n) {
    static mornak::StringTable table;
    mornak::clear_table(table);
    std::size_t at = 0;
    std::uint32_t next = mornak::FIRST_FREE_CODE;
    for (const TracedCode& c : decoded.codes) {
        if (c.code == mornak::CLEAR_CODE) {
            mornak::clear_table(table);
            next = mornak::FIRST_FREE_CODE;
            continue;
        }
        if (c.length == 0) {
            continue;
        }
        // The code's string, byte by byte, then the byte that ended it.
        std::uint32_t string_code = input[at];
        for (std::size_t i = at + 1; i <= at + c.length && i < input.size(); ++i) {
            const std::uint8_t byte = input[i];
            const bool last = i == at + c.length;
            std::uint32_t found = 0;
            if (string_code < 256) {
                ++n.pairs;
                found = table.pairs[string_code << 8 | byte];
                if (last && found == 0 && next < mornak::CODE_LIMIT) {
                    table.pairs[string_code << 8 | byte] = static_cast<std::uint16_t>(next++);
                }
            } else {
                const std::uint32_t slot = mornak::find_slot(table, string_code, byte);
                ++(slot == mornak::first_slot(string_code, byte) ? n.first_slot : n.further);
                found = table.slots[slot].code;
                if (last && found == 0 && next < mornak::CODE_LIMIT) {
                    mornak::add_entry(table, slot, next++, string_code, byte);
                }
            }
            if ((found == 0) != last) {
                return false;  // the table would have matched differently from the stream
            }
            string_code = found;
        }
        at += c.length;
    }
    return true;
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
    Lookups n;
    if (!count_lookups(input, decoded, n)) {
        return failed("the table's lookups do not give the stream's codes");
    }
    const double all = static_cast<double>(n.pairs + n.first_slot + n.further);
    std::printf("lookups: %.0f; through the pair table: %.1f%%; past the first slot: %.1f%%\n", all,
                100.0 * static_cast<double>(n.pairs) / std::max(all, 1.0),
                100.0 * static_cast<double>(n.further) / std::max(all, 1.0));
    return 0;
}
