// Any bytes as a .bk file, through the decoder: no crash, no undefined
// behaviour, no leak, memory that does not grow with what the header claims,
// a result that keeps the decoder's promises, and the same result with the
// fast path as without it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "internal.hpp"
#include "mornak.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "decode failed: %s\n", what);
    std::abort();
}

struct Result {
    mornak_fault fault;
    std::uint64_t written = 0;
    std::uint64_t sum = 0;  // of the bytes restored, so two runs can be compared
};

// Restores `file` with or without a trace (tracing turns the decoder's fast
// path off).
Result restore(std::span<const std::uint8_t> file, bool traced) {
    static mornak_decoder* const decoder = mornak_decoder_create();
    mornak_decoder_begin(decoder);
    mornak::internal::set_trace(
        decoder, traced ? [](void*, std::uint32_t, int, std::uint64_t, std::uint32_t, std::uint32_t) {} : nullptr,
        nullptr);
    Result r;
    mornak_in in{file.data(), file.size(), 0};
    mornak_status status = MORNAK_MORE;
    while (status == MORNAK_MORE) {
        static std::uint8_t room[1 << 16];
        mornak_out out{room, sizeof room, 0};
        status = mornak_decoder_run(decoder, &in, &out, 1);
        for (std::size_t i = 0; i < out.pos; ++i) {
            r.sum = r.sum * 31 + room[i];
        }
        r.written += out.pos;
    }
    mornak_decoder_fault(decoder, &r.fault);
    if (r.fault.status != status) {
        fail("the fault differs from the status run returned");
    }
    r.fault.at_byte = status == MORNAK_OK ? 0 : r.fault.at_byte;
    mornak::internal::set_trace(decoder, nullptr, nullptr);
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    const Result fast = restore(file, false);
    const Result traced = restore(file, true);
    if (fast.written != traced.written || fast.sum != traced.sum || fast.fault.status != traced.fault.status ||
        fast.fault.at_byte != traced.fault.at_byte || fast.fault.code != traced.fault.code) {
        fail("the fast path and the traced path disagree");
    }
    std::uint64_t length = 0;
    const bool header = mornak_content_size(data, size, &length) == MORNAK_OK;
    if (fast.written != fast.fault.restored || (header && fast.written > length) || (!header && fast.written != 0)) {
        fail("restored more than the header gives, or miscounted");
    }
    if (fast.fault.status == MORNAK_OK && fast.written != length) {
        fail("a sound stream of another length");
    }
    if (fast.fault.status != MORNAK_OK && fast.fault.at_byte > size) {
        fail("damage placed beyond the file");
    }
    // Verifying never passes what does not restore.
    static mornak_verifier* const verifier = mornak_verifier_create();
    mornak_verifier_begin(verifier);
    mornak_in in{data, size, 0};
    const mornak_status verified = mornak_verifier_run(verifier, &in, 1);
    if (verified != MORNAK_OK && verified != MORNAK_ERROR_NOT_CANONICAL && verified != fast.fault.status) {
        fail("the verifier found another fault than the decoder");
    }
    if ((verified == MORNAK_OK || verified == MORNAK_ERROR_NOT_CANONICAL) && fast.fault.status != MORNAK_OK) {
        fail("the verifier passed a stream the decoder refused");
    }
    return 0;
}
