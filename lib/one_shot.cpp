// The one-shot calls: each runs one streaming context over whole buffers.
#include <cstring>
#include <memory>

#include "format.hpp"
#include "mornak.h"

namespace {

using namespace mornak;

// Codes are at most 16 bits wide (2 bytes) and each stands for at least one
// input byte. Besides them: a CLEAR_CODE per dictionary, which lasts at
// least 65278 codes, END_CODE and three filler codes at up to 17 bits
// (9 bytes), and the header.
constexpr std::uint64_t bound_of(std::uint64_t n) { return HEADER_BYTES + 2 * n + 2 * (n / 65278 + 1) + 9; }
static_assert(bound_of(0) <= 2 * 0 + 20);
static_assert(bound_of(MORNAK_MAX_INPUT) <= 2ull * MORNAK_MAX_INPUT + 20 + 2 * (MORNAK_MAX_INPUT / 65278));

struct EncoderFree {
    void operator()(mornak_encoder* e) const { mornak_encoder_free(e); }
};
struct DecoderFree {
    void operator()(mornak_decoder* d) const { mornak_decoder_free(d); }
};
struct VerifierFree {
    void operator()(mornak_verifier* v) const { mornak_verifier_free(v); }
};

}  // namespace

extern "C" {

size_t mornak_compress_bound(uint64_t input_size) {
    if (input_size > static_cast<std::uint64_t>(MORNAK_MAX_INPUT)) {
        return 0;
    }
    const std::uint64_t bound = bound_of(input_size);
    return bound > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(bound);
}

mornak_status mornak_compress(const void* src, size_t src_size, void* dst, size_t dst_capacity, size_t* dst_size) {
    if (dst_size == nullptr || (src == nullptr && src_size != 0) || (dst == nullptr && dst_capacity != 0)) {
        return MORNAK_ERROR_NULL;
    }
    *dst_size = 0;
    if (src_size > static_cast<std::uint64_t>(MORNAK_MAX_INPUT)) {
        return MORNAK_ERROR_TOO_LARGE;
    }
    const std::unique_ptr<mornak_encoder, EncoderFree> encoder(mornak_encoder_create());
    if (!encoder) {
        return MORNAK_ERROR_MEMORY;
    }
    mornak_encoder_begin(encoder.get(), static_cast<int64_t>(src_size));
    mornak_in in{static_cast<const unsigned char*>(src), src_size, 0};
    mornak_out out{static_cast<unsigned char*>(dst), dst_capacity, 0};
    const mornak_status status = mornak_encoder_run(encoder.get(), &in, &out, 1);
    if (status == MORNAK_MORE) {
        return MORNAK_ERROR_DST_TOO_SMALL;  // all input was offered with finish: only room was missing
    }
    if (status == MORNAK_OK) {
        *dst_size = out.pos;
    }
    return status;
}

mornak_status mornak_content_size(const void* bk, size_t bk_size, uint64_t* size) {
    if (size == nullptr || (bk == nullptr && bk_size != 0)) {
        return MORNAK_ERROR_NULL;
    }
    if (bk_size < HEADER_BYTES) {
        return MORNAK_ERROR_HEADER_CUT;
    }
    std::uint8_t header[HEADER_BYTES];
    std::memcpy(header, bk, HEADER_BYTES);
    std::uint32_t length = 0;
    const mornak_status status = parse_header(header, length);
    if (status == MORNAK_OK) {
        *size = length;
    }
    return status;
}

mornak_status mornak_decompress(const void* bk, size_t bk_size, void* dst, size_t dst_capacity, size_t* dst_size) {
    if (dst_size == nullptr || (dst == nullptr && dst_capacity != 0)) {
        return MORNAK_ERROR_NULL;
    }
    *dst_size = 0;
    std::uint64_t length = 0;
    if (const mornak_status header = mornak_content_size(bk, bk_size, &length); header != MORNAK_OK) {
        return header;
    }
    if (length > dst_capacity) {
        return MORNAK_ERROR_DST_TOO_SMALL;
    }
    const std::unique_ptr<mornak_decoder, DecoderFree> decoder(mornak_decoder_create());
    if (!decoder) {
        return MORNAK_ERROR_MEMORY;
    }
    mornak_decoder_begin(decoder.get());
    mornak_in in{static_cast<const unsigned char*>(bk), bk_size, 0};
    mornak_out out{static_cast<unsigned char*>(dst), dst_capacity, 0};
    // The decoder writes no byte past the header's length, which fits.
    const mornak_status status = mornak_decoder_run(decoder.get(), &in, &out, 1);
    *dst_size = out.pos;
    return status;
}

mornak_status mornak_verify(const void* bk, size_t bk_size) {
    if (bk == nullptr && bk_size != 0) {
        return MORNAK_ERROR_NULL;
    }
    const std::unique_ptr<mornak_verifier, VerifierFree> verifier(mornak_verifier_create());
    if (!verifier) {
        return MORNAK_ERROR_MEMORY;
    }
    mornak_verifier_begin(verifier.get());
    mornak_in in{static_cast<const unsigned char*>(bk), bk_size, 0};
    return mornak_verifier_run(verifier.get(), &in, 1);
}

}  // extern "C"
