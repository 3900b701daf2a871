// Any bytes as a .bk file's header and stream, through the decoder: no crash,
// no undefined behaviour, no leak, memory that does not grow with what the
// header claims, a result that keeps the decoder's promises, and the same
// result with the fast path as without it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "converter/bk_header.hpp"
#include "lzw/decoder.hpp"

namespace {

std::span<const std::uint8_t> rest;

std::size_t from_memory(std::span<std::uint8_t> into) {
    const std::size_t n = into.size() < rest.size() ? into.size() : rest.size();
    for (std::size_t i = 0; i < n; ++i) {
        into[i] = rest[i];
    }
    rest = rest.subspan(n);
    return n;
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "decode failed: %s\n", what);
    std::abort();
}

// Restores `stream` with or without a trace (tracing turns the decoder's
// fast path off); the bytes are summed so the two runs can be compared.
// `claimed` is the stream size the decoder is told, which a file that
// shrinks while it is read can make larger than what arrives.
lzw::DecodeStatus restore(std::span<const std::uint8_t> stream, std::uint64_t length, lzw::CodeTrace tracer,
                          std::uint64_t& restored, std::uint64_t& sum, std::size_t claimed) {
    rest = stream;
    lzw::trace_code = tracer;
    lzw::start_decoder(from_memory, claimed, length);
    restored = sum = 0;
    for (auto run = lzw::decode_more(); !run.empty(); run = lzw::decode_more()) {
        for (const std::uint8_t b : run) {
            sum = sum * 31 + b;
        }
        restored += run.size();
    }
    lzw::trace_code = nullptr;
    return lzw::decode_status();
}

void ignore(std::uint32_t, int, std::uint64_t, std::uint32_t, std::uint32_t) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    std::int32_t length = 0;
    if (converter::parse_header(file, length) != converter::HeaderFault::none) {
        return 0;
    }
    const auto stream = file.subspan(converter::HEADER_BYTES);
    const auto expected = static_cast<std::uint64_t>(length);
    std::uint64_t restored = 0, sum = 0, traced_restored = 0, traced_sum = 0;
    const lzw::DecodeStatus status = restore(stream, expected, nullptr, restored, sum, stream.size());
    const lzw::DecodeStatus traced = restore(stream, expected, ignore, traced_restored, traced_sum, stream.size());
    if (restored != traced_restored || sum != traced_sum || status.fault != traced.fault ||
        status.at_bit != traced.at_bit) {
        fail("the fast path and the traced path disagree");
    }
    if (restored != status.restored || restored > expected) {
        fail("restored more than the header gives, or miscounted");
    }
    if (status.fault == lzw::DecodeFault::none && restored != expected) {
        fail("a sound stream of another length");
    }
    if (status.fault != lzw::DecodeFault::none && status.at_bit > 8 * stream.size()) {
        fail("damage placed beyond the file");
    }
    // The same bytes from a file that was longer when its size was taken:
    // never sound, and the fault placed within the bits that arrived.
    const lzw::DecodeStatus cut = restore(stream, expected, nullptr, restored, sum, stream.size() + 65536);
    if (cut.fault == lzw::DecodeFault::none || cut.at_bit > 8 * stream.size()) {
        fail("a stream cut short passed as sound, or its fault was placed past its end");
    }
    return 0;
}
