#include "programs/compress_file.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace programs {

namespace {

constexpr std::uint32_t PROGRESS_STEP = 10000;  // input bytes per dot
constexpr std::size_t READ_BLOCK = 64 * 1024;   // bytes
// .bk bytes collected before they go on in one write. Small enough to stay
// in the processor's cache beside the dictionary: the stream passes through
// it instead of pushing the dictionary out.
constexpr std::size_t OUTPUT_AREA = 64 * 1024;
// Room below which the area counts as full: the encoder writes straight into
// it only while it has this much.
constexpr std::size_t AREA_SLACK = 64;
constexpr std::chrono::milliseconds DOT_FLUSH_GAP{100};

// The dots of one conversion: one per PROGRESS_STEP of the bytes the current
// dictionary took, printed as the encoder reports them (every 64 KiB of
// input and before a fresh dictionary), so they appear at most one block late.
struct Dots {
    std::FILE* console = nullptr;
    bool on_terminal = false;  // someone watches: flush, at most every DOT_FLUSH_GAP
    std::chrono::steady_clock::time_point last_flush{};
    std::uint32_t dictionary = 0;  // the dictionary the shown dots belong to
    std::uint32_t shown = 0;

    static void on_progress(void* user, const mornak_progress* p) {
        auto& dots = *static_cast<Dots*>(user);
        if (p->dictionary != dots.dictionary) {
            dots.dictionary = p->dictionary;
            dots.shown = 0;
        }
        for (; dots.shown < p->dictionary_bytes / PROGRESS_STEP; ++dots.shown) {
            std::fputc('.', dots.console);
            if (dots.on_terminal) {
                const auto now = std::chrono::steady_clock::now();
                if (now - dots.last_flush >= DOT_FLUSH_GAP) {
                    std::fflush(dots.console);
                    dots.last_flush = now;
                }
            }
        }
    }
};

}  // namespace

Conversion compress_file(mornak_encoder* encoder, std::FILE* input, std::int64_t size, Sink sink,
                         std::FILE* console) {
    static std::uint8_t block[READ_BLOCK];
    static std::uint8_t area[OUTPUT_AREA];
    Dots dots{console, console != nullptr && ::isatty(::fileno(console)) == 1};
    if (console != nullptr) {
        std::fputs("Compressing\n", console);
    }
    mornak_encoder_set_progress(encoder, console != nullptr ? Dots::on_progress : nullptr, &dots);
    mornak_encoder_begin(encoder, size);
    Conversion result{Conversion::converted, 0};
    // One byte past the size tells that the file grew.
    auto to_read = static_cast<std::uint64_t>(size) + 1;
    mornak_in in{block, 0, 0};
    mornak_out out{area, OUTPUT_AREA, 0};
    bool last = false;
    for (;;) {
        if (in.pos == in.size && !last) {
            const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(READ_BLOCK, to_read));
            in = {block, wanted == 0 ? 0 : std::fread(block, 1, wanted, input), 0};
            to_read -= in.size;
            if (in.size < wanted && std::ferror(input)) {
                result = {Conversion::read_failed, errno};
                break;
            }
            last = in.size < wanted || to_read == 0;
        }
        const mornak_status status = mornak_encoder_run(encoder, &in, &out, last ? 1 : 0);
        // The area goes out when full, or at the end: one write per area.
        if (out.pos != 0 && (out.size - out.pos < AREA_SLACK || status != MORNAK_MORE)) {
            if (const int error = sink({area, out.pos}); error != 0) {
                result = {Conversion::write_failed, error};
                break;
            }
            out.pos = 0;
        }
        if (status == MORNAK_OK) {
            break;
        }
        if (status != MORNAK_MORE) {
            result = {Conversion::changed, 0};  // more or fewer bytes than measured
            break;
        }
    }
    if (result.outcome == Conversion::converted && (std::feof(input) == 0 || std::ftell(input) != size)) {
        result = {Conversion::changed, 0};
    }
    mornak_encoder_set_progress(encoder, nullptr, nullptr);
    if (console != nullptr) {
        std::fputc('\n', console);
    }
    return result;
}

}  // namespace programs
