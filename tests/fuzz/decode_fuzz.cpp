// Any bytes as a .bk file's header and stream, through the decoder: no crash,
// no undefined behaviour, no leak, memory that does not grow with what the
// header claims, and a result that keeps the decoder's promises.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    std::int32_t length = 0;
    if (converter::parse_header(file, length) != converter::HeaderFault::none) {
        return 0;
    }
    rest = file.subspan(converter::HEADER_BYTES);
    lzw::start_decoder(from_memory, rest.size(), static_cast<std::uint64_t>(length));
    std::uint64_t restored = 0;
    for (auto run = lzw::decode_more(); !run.empty(); run = lzw::decode_more()) {
        restored += run.size();
    }
    const lzw::DecodeStatus status = lzw::decode_status();
    if (restored != status.restored || restored > static_cast<std::uint64_t>(length)) {
        fail("restored more than the header gives, or miscounted");
    }
    if (status.fault == lzw::DecodeFault::none && restored != static_cast<std::uint64_t>(length)) {
        fail("a sound stream of another length");
    }
    if (status.fault != lzw::DecodeFault::none && status.at_bit > 8 * (size - converter::HEADER_BYTES)) {
        fail("damage placed beyond the file");
    }
    return 0;
}
