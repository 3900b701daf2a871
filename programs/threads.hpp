// Restoring and checking a .bk file on several threads, one segment (from
// one restart point to the next) per task. The file is mapped, not read:
// its pages are the system's file cache. Besides that mapping, each thread
// holds one context and, when restoring, two buffers of PART_BYTES,
// whatever the file or its segments: a segment larger than that waits,
// part by part, for the output to take it.
//
// The threads only ever confirm what the file says of itself: each
// segment must end where the next one begins and all must restore exactly
// the header's length. Anything else (a fault, a segment that ends
// elsewhere, a length that does not add up) hands the rest to one thread,
// from the last point confirmed, so a damaged file gives the words, byte
// and output that one thread gives.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mornak.h"
#include "programs/output_file.hpp"

namespace programs {

inline constexpr std::size_t PART_BYTES = std::size_t{2} << 20;
// Threads pay for themselves once this much content is left to restore.
inline constexpr std::uint64_t SPREAD_MIN_CONTENT = std::uint64_t{8} << 20;

// How many threads restore and check. A number the user gave (-T N, N > 0)
// is used on any file with two dictionaries or more; every core (-T0, the
// default) only where the content left is SPREAD_MIN_CONTENT or more.
struct Threads {
    unsigned count = 1;
    bool asked = false;
};

// -T N as a Threads: N, or for 0 every core this process may run on.
Threads threads_for(unsigned asked);

// Worth threads: more than one, a .bk of `bk_size` bytes with room for a
// second dictionary, and `content` bytes left, as Threads says.
bool worth_threads(const Threads& threads, std::uint64_t bk_size, std::uint64_t content);

// How restoring the rest of a file ended: `status` is MORNAK_OK or the
// stream's fault (in the decoder's mornak_decoder_fault), or MORNAK_MORE
// with the errno of a failed read of the file or write of the output.
struct RestOutcome {
    mornak_status status = MORNAK_OK;
    int read_error = 0;
    int write_error = 0;
};

// The rest of the file open as `fd` (`size` bytes, header `header`), once
// `decoder` restored its first segment (begun at the stream's start with
// one_segment set) and stands at the next restart point. Where enough is
// left, threads find the points and restore the segments while the caller
// goes on alone until they are ready, then writes what they restore in
// order into `output`; from the first segment they cannot confirm, the
// caller goes on alone with `decoder` again.
RestOutcome restore_rest(int fd, std::uint64_t size, const std::uint8_t (&header)[MORNAK_HEADER_BYTES],
                         const Threads& threads, mornak_decoder* decoder, OutputFile& output);

// True when every segment of the file checks out on `threads` threads and
// together they restore the header's length; false leaves the verdict to
// the whole-file check, which gives the first fault in file order.
bool test_on_threads(int fd, std::uint64_t size, const Threads& threads);

}  // namespace programs
