// Any bytes, through the encoder into memory and back through the tests'
// decoder: the bytes, the header and every CLEAR_CODE must come back exactly
// where they belong.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lib/decoder_trace.hpp"
#include "mornak.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "round trip failed: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static mornak_encoder* const encoder = mornak_encoder_create();
    static std::vector<std::uint8_t> file;
    file.clear();
    mornak_encoder_begin(encoder, static_cast<std::int64_t>(size));
    mornak_in in{data, size, 0};
    mornak_status status = MORNAK_MORE;
    while (status == MORNAK_MORE) {
        // A small output room, so that the encoder stops and resumes often.
        std::uint8_t room[256];
        mornak_out out{room, sizeof room, 0};
        status = mornak_encoder_run(encoder, &in, &out, 1);
        file.insert(file.end(), room, room + out.pos);
    }
    if (status != MORNAK_OK || in.pos != size) {
        fail("the encoder stopped early");
    }
    std::uint64_t length = 0;
    if (mornak_content_size(file.data(), file.size(), &length) != MORNAK_OK || length != size) {
        fail("header");
    }
    const Decoded back = decode_stream(std::span(file).subspan(MORNAK_HEADER_BYTES));
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
