// Any bytes as a .bk file, through the restart points: the index fails
// exactly as the decoder does, the scan finds only places the index has,
// and reads at any offset, from the file's own index or one bent out of
// shape, and checks of each segment never read outside the file, never
// crash, and give the decoder's bytes.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "mornak.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "index failed: %s\n", what);
    std::abort();
}

// The decoder's verdict on `file` and, up to a megabyte, what it restored.
mornak_fault restore(std::span<const std::uint8_t> file, std::vector<std::uint8_t>& restored) {
    static mornak_decoder* const decoder = mornak_decoder_create();
    mornak_decoder_begin(decoder);
    mornak_in in{file.data(), file.size(), 0};
    mornak_status status = MORNAK_MORE;
    while (status == MORNAK_MORE) {
        static std::uint8_t room[1 << 16];
        mornak_out out{room, sizeof room, 0};
        status = mornak_decoder_run(decoder, &in, &out, 1);
        if (restored.size() < (1u << 20)) {
            restored.insert(restored.end(), room, room + out.pos);
        }
    }
    mornak_fault fault;
    mornak_decoder_fault(decoder, &fault);
    return fault;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    // Four bytes choose the reads; the rest is the file.
    const std::uint32_t choice = std::uint32_t{data[0]} | std::uint32_t{data[1]} << 8 | std::uint32_t{data[2]} << 16 |
                                 std::uint32_t{data[3]} << 24;
    const std::span<const std::uint8_t> file(data + 4, size - 4);
    std::vector<std::uint8_t> restored;
    const mornak_fault decoded = restore(file, restored);

    std::vector<mornak_point> points(mornak_index_bound(file.size()));
    std::size_t count = 0;
    mornak_fault fault;
    const mornak_status status =
        mornak_index_with_fault(file.data(), file.size(), points.data(), points.size(), &count, &fault);
    if (status != decoded.status || fault.at_byte != decoded.at_byte || fault.code != decoded.code ||
        fault.restored != decoded.restored) {
        fail("the index failed otherwise than the decoder");
    }
    std::vector<mornak_point> scanned(points.size());
    std::size_t scanned_count = 0;
    if (mornak_scan_points(file.data(), file.size(), scanned.data(), scanned.size(), &scanned_count) == MORNAK_OK &&
        status == MORNAK_OK) {
        for (std::size_t k = 0; k < scanned_count; ++k) {
            if (std::none_of(points.begin(), points.begin() + static_cast<long>(count),
                             [&](const mornak_point& p) { return p.bk_bit == scanned[k].bk_bit; })) {
                fail("the scan found a point a sound file does not have");
            }
        }
    }
    if (count == 0) {
        return 0;
    }
    // Reads from the file's index, then from one with a point bent.
    static mornak_decoder* const reader = mornak_decoder_create();
    std::uint64_t length = 0;
    mornak_content_size(file.data(), file.size(), &length);
    const std::uint64_t offset = choice % (length + 3);
    std::vector<std::uint8_t> got((choice >> 16) % 70000);
    std::size_t written = 0;
    const mornak_status read = mornak_decoder_read_at(reader, file.data(), file.size(), points.data(), count, offset,
                                                      got.data(), got.size(), &written);
    const std::uint64_t want = offset < length ? std::min<std::uint64_t>(got.size(), length - offset) : 0;
    if (decoded.status == MORNAK_OK &&
        (read != MORNAK_OK || written != want ||
         (offset + want <= restored.size() &&
          !std::equal(got.begin(), got.begin() + static_cast<long>(want), restored.begin() + static_cast<long>(offset))))) {
        fail("a read of a sound file gave other bytes than restoring it");
    }
    mornak_point& bent = points[choice % count];
    bent.bk_bit ^= std::uint64_t{1} << (choice >> 8) % 40;
    bent.content_offset += choice >> 24;
    mornak_decoder_read_at(reader, file.data(), file.size(), points.data(), count, offset, got.data(), got.size(),
                           &written);
    if (written > got.size()) {
        fail("a read wrote past its room");
    }
    // Each segment checked on its own, from its true point and from the bent one.
    static mornak_verifier* const verifier = mornak_verifier_create();
    mornak_point next;
    for (std::size_t k = 0; k < count; ++k) {
        mornak_verifier_check_segment(verifier, file.data(), file.size(), &points[k], &next);
    }
    return 0;
}
