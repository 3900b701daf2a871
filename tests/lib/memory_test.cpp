// What the library allocates: each context takes its memory at create, the
// amount its header gives, and nothing more until it is freed, whatever it
// is asked to do. The library's calls to the allocator are counted through
// the linker's --wrap, which reaches the static library linked in here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "mornak.h"
#include "support.hpp"

extern "C" {
void* __real_malloc(std::size_t size);
void* __real_aligned_alloc(std::size_t alignment, std::size_t size);
void __real_free(void* memory);
}

namespace {

struct Allocations {
    bool counting = false;
    int calls = 0;
    int frees = 0;
    std::size_t bytes = 0;
};
Allocations seen;

// Counts from now on, from zero.
void count() { seen = {true, 0, 0, 0}; }

}  // namespace

extern "C" {
void* __wrap_malloc(std::size_t size) {
    if (seen.counting) {
        ++seen.calls;
        seen.bytes += size;
    }
    return __real_malloc(size);
}
void* __wrap_aligned_alloc(std::size_t alignment, std::size_t size) {
    if (seen.counting) {
        ++seen.calls;
        seen.bytes += size;
    }
    return __real_aligned_alloc(alignment, size);
}
void __wrap_free(void* memory) {
    if (seen.counting && memory != nullptr) {
        ++seen.frees;
    }
    __real_free(memory);
}
}

namespace {

constexpr std::size_t TABLES = std::size_t{2} << 20;  // what the header gives each context

struct Case {
    const char* name;
    std::size_t at_least, below;  // bytes taken at create
};

TEST(Memory, ContextsTakeWhatTheHeaderSaysAtCreateAndNothingAfter) {
    const Bytes input = text_like(1 << 20, 71) + random_bytes(300000, 72);
    Bytes bk(mornak_compress_bound(input.size()));
    std::size_t bk_size = 0;
    ASSERT_EQ(mornak_compress(input.data(), input.size(), bk.data(), bk.size(), &bk_size), MORNAK_OK);
    bk.resize(bk_size);
    std::vector<std::uint8_t> room(4096);

    count();
    mornak_encoder* e = mornak_encoder_create();
    EXPECT_GE(seen.bytes, TABLES);
    EXPECT_LT(seen.bytes, TABLES + 1024);
    count();
    for (int stream = 0; stream < 2; ++stream) {  // a context serves stream after stream
        mornak_encoder_begin(e, static_cast<std::int64_t>(input.size()));
        mornak_in in{input.data(), input.size(), 0};
        for (mornak_status s = MORNAK_MORE; s == MORNAK_MORE;) {
            mornak_out out{room.data(), room.size(), 0};
            s = mornak_encoder_run(e, &in, &out, 1);
        }
    }
    EXPECT_EQ(seen.calls, 0) << "the encoder allocated while it ran";

    count();
    mornak_decoder* d = mornak_decoder_create();
    EXPECT_GE(seen.bytes, TABLES);
    EXPECT_LT(seen.bytes, TABLES + 1024);
    count();
    mornak_decoder_begin(d);
    mornak_in in{bk.data(), bk.size(), 0};
    for (mornak_status s = MORNAK_MORE; s == MORNAK_MORE;) {
        mornak_out out{room.data(), room.size(), 0};
        s = mornak_decoder_run(d, &in, &out, 1);
    }
    EXPECT_EQ(seen.calls, 0) << "the decoder allocated while it ran";

    count();
    mornak_verifier* v = mornak_verifier_create();
    EXPECT_GE(seen.bytes, 5373952u);
    EXPECT_LT(seen.bytes, 5373952u + 2048);
    count();
    mornak_verifier_begin(v);
    mornak_in whole{bk.data(), bk.size(), 0};
    EXPECT_EQ(mornak_verifier_run(v, &whole, 1), MORNAK_OK);
    EXPECT_EQ(seen.calls, 0) << "the verifier allocated while it ran";

    // Freeing gives back every block create took; a one-shot call makes one
    // context and gives it back.
    count();
    mornak_encoder_free(e);
    mornak_decoder_free(d);
    mornak_verifier_free(v);
    EXPECT_EQ(seen.frees, 2 + 2 + 6);  // tables and struct each; the verifier has two contexts, its buffers and its struct
    count();
    std::size_t size = 0;
    EXPECT_EQ(mornak_decompress(bk.data(), bk.size(), room.data(), room.size(), &size), MORNAK_ERROR_DST_TOO_SMALL);
    EXPECT_EQ(mornak_verify(bk.data(), bk.size()), MORNAK_OK);
    EXPECT_EQ(seen.calls, seen.frees);
    seen.counting = false;
}

}  // namespace
