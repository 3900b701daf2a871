#include "programs/compress_file.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "mornak.h"
#include "programs/exit_status.hpp"
#include "programs/input_file.hpp"
#include "programs/output_file.hpp"
#include "programs/output_name.hpp"

namespace programs {

namespace {

// The .bk header stores the input length as a signed 32-bit number.
constexpr std::int64_t MAX_INPUT_BYTES = MORNAK_MAX_INPUT;

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
            std::fputc('.', stdout);
            if (dots.on_terminal) {
                const auto now = std::chrono::steady_clock::now();
                if (now - dots.last_flush >= DOT_FLUSH_GAP) {
                    std::fflush(stdout);
                    dots.last_flush = now;
                }
            }
        }
    }
};

struct FreeEncoder {
    void operator()(mornak_encoder* encoder) const { mornak_encoder_free(encoder); }
};

struct Conversion {
    enum Outcome { converted, write_failed, read_failed, changed } outcome;
    int error;  // errno of the failed write or read
};

// Runs `input` through `encoder` into `output`, header first, between
// "Compressing" and the newline after the dots. Reads at most one byte past
// the measured size, so a file that keeps growing cannot run on; a file that
// turns out longer or shorter is `changed`.
Conversion encode(mornak_encoder* encoder, const InputFile& input, OutputFile& output) {
    static std::uint8_t block[READ_BLOCK];
    static std::uint8_t area[OUTPUT_AREA];
    std::FILE* stream = input.stream.get();
    Dots dots{::isatty(STDOUT_FILENO) == 1};
    std::fputs("Compressing\n", stdout);
    mornak_encoder_set_progress(encoder, Dots::on_progress, &dots);
    mornak_encoder_begin(encoder, input.size);
    Conversion result{Conversion::converted, 0};
    // One byte past the size tells that the file grew.
    auto to_read = static_cast<std::uint64_t>(input.size) + 1;
    mornak_in in{block, 0, 0};
    mornak_out out{area, OUTPUT_AREA, 0};
    bool last = false;
    for (;;) {
        if (in.pos == in.size && !last) {
            const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(READ_BLOCK, to_read));
            in = {block, wanted == 0 ? 0 : std::fread(block, 1, wanted, stream), 0};
            to_read -= in.size;
            if (in.size < wanted && std::ferror(stream)) {
                result = {Conversion::read_failed, errno};
                break;
            }
            last = in.size < wanted || to_read == 0;
        }
        const mornak_status status = mornak_encoder_run(encoder, &in, &out, last ? 1 : 0);
        // The area goes out when full, or at the end: one write per area.
        if (out.pos != 0 && (out.size - out.pos < AREA_SLACK || status != MORNAK_MORE)) {
            if (const int error = output.append({area, out.pos}); error != 0) {
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
    if (result.outcome == Conversion::converted && !input.ended_at_size()) {
        result = {Conversion::changed, 0};
    }
    mornak_encoder_set_progress(encoder, nullptr, nullptr);
    std::fputc('\n', stdout);
    return result;
}

[[gnu::format(printf, 1, 2)]] int fail(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    return EXIT_FAILED;
}

// EXIT_DONE for a regular file that fits in a .bk file; else says why not.
int check_input(const char* path, const InputFile& input) {
    switch (input.kind) {
        case InputFile::Kind::regular:
            break;
        case InputFile::Kind::folder:
            return fail("Can't read file %s: %s\n", path, std::strerror(EISDIR));
        case InputFile::Kind::other:
            return fail("Can't read file %s: not a regular file\n", path);
        case InputFile::Kind::failed:
            if (input.failed_step == InputFile::Step::open) {
                return fail("Can't open file %s\n", path);
            }
            return fail("Can't read file %s: %s\n", path, std::strerror(input.error));
    }
    if (input.size > MAX_INPUT_BYTES) {
        return fail("Can't convert file %s: %lld bytes is more than the %lld a .bk file can hold\n", path,
                    static_cast<long long>(input.size), static_cast<long long>(MAX_INPUT_BYTES));
    }
    return EXIT_DONE;
}

}  // namespace

int compress_file(const char* path) {
    const InputFile input = open_input(path);
    if (const int status = check_input(path, input); status != EXIT_DONE) {
        return status;
    }
    const std::string target = derive_output_name(path);
    // The input is never touched: a .bk name that is the input itself, as
    // story.bk gives, or a link to it, is refused before anything is made.
    if (input.is_named(target.c_str())) {
        return fail("Can't convert file %s: its .bk name %s is the file itself\n", path, target.c_str());
    }
    OutputFile output;
    if (const int error = output.begin(target, output_mode(input.mode), AtTarget::replace)) {
        return fail("Can't write file %s: %s\n", target.c_str(), std::strerror(error));
    }
    const std::unique_ptr<mornak_encoder, FreeEncoder> encoder(mornak_encoder_create());
    if (encoder == nullptr) {
        return fail("Can't convert file %s: %s\n", path, std::strerror(ENOMEM));
    }
    const Conversion conversion = encode(encoder.get(), input, output);
    switch (conversion.outcome) {
        case Conversion::converted:
            break;
        case Conversion::write_failed:
            return fail("Can't write file %s: %s\n", target.c_str(), std::strerror(conversion.error));
        case Conversion::read_failed:
            return fail("Can't read file %s: %s\n", path, std::strerror(conversion.error));
        case Conversion::changed:
            return fail("Can't read file %s: it changed while being read\n", path);
    }
    const auto out_bytes = static_cast<long long>(output.bytes());
    if (const int error = output.commit()) {
        return fail("Can't write file %s: %s\n", target.c_str(), std::strerror(error));
    }
    const auto in_bytes = static_cast<long long>(input.size);
    std::printf("In : %lld bytes\n", in_bytes);
    std::printf("Out: %lld bytes\n", out_bytes);
    if (in_bytes == 0) {
        std::printf("Out/In: n/a (empty input)\n");
    } else {
        std::printf("Out/In: %.3f\n", static_cast<double>(out_bytes) / static_cast<double>(in_bytes));
    }
    return EXIT_DONE;
}

}  // namespace programs
