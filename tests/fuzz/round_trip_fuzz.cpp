// Any bytes, through the encoder into memory and back through the test
// decoder: the bytes, the header's length and every CLEAR_CODE must come back
// exactly where they belong.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "converter/bk_header.hpp"
#include "lzw/encoder.hpp"
#include "tests/decoder.hpp"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "round trip failed: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The encoder's progress line and dots would drown the fuzzer's report.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // fmemopen refuses an empty buffer; an empty file reads the same.
    std::FILE* input = size == 0 ? std::fopen("/dev/null", "rb")
                                 : ::fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (input == nullptr) {
        fail("cannot open the input");
    }
    static std::vector<std::uint8_t> stream;
    stream.clear();
    // A small area, so that the fuzzer crosses drains often.
    std::uint8_t area[256];
    lzw::start_engine(area, sizeof area, [](std::span<const std::uint8_t> bytes) {
        stream.insert(stream.end(), bytes.begin(), bytes.end());
        return true;
    }, size);
    lzw::compress_file(input);
    if (std::ferror(input) || lzw::writer_failed() || std::fgetc(input) != EOF) {
        fail("the encoder stopped early");
    }
    std::fclose(input);

    const auto header = converter::make_header(static_cast<std::int32_t>(size));
    std::int32_t length = -1;
    if (converter::parse_header(header, length) != converter::HeaderFault::none ||
        static_cast<std::size_t>(length) != size) {
        fail("header");
    }
    const Decoded back = decode_stream(stream);
    if (!back.error.empty()) {
        fail(back.error.c_str());
    }
    if (back.bytes.size() != size || (size != 0 && std::memcmp(back.bytes.data(), data, size) != 0)) {
        fail("decoded bytes differ");
    }
    std::size_t dots = 0;
    if (const std::string rule = check_ratio_rule(back, dots); !rule.empty()) {
        fail(rule.c_str());
    }
    return 0;
}
