// unmornak: restores .bk files, or checks them.
//
//   unmornak FILE.bk            restore into FILE, beside it
//   unmornak FILE.bk OUTPUT     restore into OUTPUT; "-" is standard output, and
//                               a device, FIFO or terminal is written into
//   unmornak --test FILE.bk...  check each file; write nothing
//
// Exit status: 0 when everything was done, 1 when any file failed, 2 for a
// command line it cannot use.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "converter/bk_header.hpp"
#include "converter/input_file.hpp"
#include "converter/output_file.hpp"
#include "converter/signals.hpp"
#include "converter/standard_output.hpp"
#include "lzw/decoder.hpp"
#include "lzw/encoder.hpp"

namespace {

constexpr int EXIT_DONE = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

constexpr const char* USAGE =
    "Usage: unmornak FILE.bk [OUTPUT]\n"
    "       unmornak --test FILE.bk...\n"
    "       unmornak --help | --version\n";

constexpr const char* HELP =
    "Restores files that mornak converted, or checks them.\n"
    "\n"
    "  unmornak FILE.bk            restore into FILE, beside it; an existing FILE is kept\n"
    "  unmornak FILE.bk OUTPUT     restore into OUTPUT, replacing a file there; a device,\n"
    "                              FIFO or terminal is written into; \"-\" writes standard output\n"
    "  unmornak --test FILE.bk...  check that each file restores whole and is exactly what\n"
    "                              mornak writes for those bytes; write nothing\n"
    "\n"
    "Exit status: 0 done, 1 a file failed, 2 wrong usage.\n";

// The .bk file being read, and a second reader of it for --test.
struct Run {
    std::FILE* input = nullptr;
    std::FILE* again = nullptr;
    int read_error = 0;
    std::uint64_t compared = 0;  // stream bytes the re-encoding matched so far
    std::uint64_t mismatch = 0;  // first stream byte it did not, or UINT64_MAX
    std::span<const std::uint8_t> pending;  // restored bytes the re-encoding has not taken
    std::string shown;  // the output as messages name it
};
Run run;

[[gnu::format(printf, 2, 3)]] int fail(const char* path, const char* format, ...) {
    std::fprintf(stderr, "unmornak: %s: ", path);
    std::va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
    return EXIT_FAILED;
}

int usage(const char* problem) {
    std::fprintf(stderr, "unmornak: %s\n%s", problem, USAGE);
    return EXIT_USAGE;
}

std::size_t read_stream(std::span<std::uint8_t> into) {
    const std::size_t got = std::fread(into.data(), 1, into.size(), run.input);
    if (got < into.size() && std::ferror(run.input) && run.read_error == 0) {
        run.read_error = errno;
    }
    return got;
}

unsigned long long file_byte(std::uint64_t stream_bit) {
    return converter::HEADER_BYTES + stream_bit / 8;
}

// The stream of a .bk file: its header's length, the bytes after the
// header, and the file's mode.
struct BkFile {
    std::int32_t length = 0;
    std::int64_t size = 0;
    mode_t mode = 0;
};

int open_bk(const char* path, BkFile& bk) {
    const int fd = converter::open_input(path);
    if (fd < 0) {
        return fail(path, "%s", std::strerror(errno));
    }
    run.input = ::fdopen(fd, "rb");
    if (run.input == nullptr) {
        const int error = errno;
        ::close(fd);
        return fail(path, "%s", std::strerror(error));
    }
    switch (converter::inspect_input(fd, bk.size, bk.mode)) {
        case converter::InputKind::regular:
            break;
        case converter::InputKind::folder:
            return fail(path, "%s", std::strerror(EISDIR));
        case converter::InputKind::other:
            return fail(path, "not a regular file");
        case converter::InputKind::unknown:
            return fail(path, "%s", std::strerror(errno));
    }
    std::uint8_t header[converter::HEADER_BYTES];
    const std::size_t got = read_stream(header);
    if (run.read_error != 0) {
        return fail(path, "%s", std::strerror(run.read_error));
    }
    switch (converter::parse_header({header, got}, bk.length)) {
        case converter::HeaderFault::none:
            return EXIT_DONE;
        case converter::HeaderFault::too_short:
            return fail(path, "damaged: the file ends at byte %zu, inside the %zu-byte header", got,
                        converter::HEADER_BYTES);
        case converter::HeaderFault::wrong_magic:
            return fail(path, "not a .bk file: no \"book\" at byte 0");
        case converter::HeaderFault::negative_length:
            return fail(path, "damaged: the length at byte 4 is negative");
    }
    return EXIT_FAILED;
}

int report_damage(const char* path, const BkFile& bk) {
    const lzw::DecodeStatus s = lzw::decode_status();
    const unsigned long long at = file_byte(s.at_bit);
    const auto restored = static_cast<unsigned long long>(s.restored);
    switch (s.fault) {
        case lzw::DecodeFault::none:
            return EXIT_DONE;
        case lzw::DecodeFault::undefined_code:
            return fail(path, "damaged: code %u at byte %llu names no entry yet", s.code, at);
        case lzw::DecodeFault::misplaced_clear:
            return fail(path, "damaged: CLEAR_CODE at byte %llu comes before the dictionary is full", at);
        case lzw::DecodeFault::no_end_code:
            return fail(path, "damaged: the stream ends at byte %llu before END_CODE", at);
        case lzw::DecodeFault::short_filler:
            return fail(path, "damaged: the stream ends at byte %llu inside the closing zero codes", at);
        case lzw::DecodeFault::filler_not_zero:
            return fail(path, "damaged: the closing codes after END_CODE at byte %llu are not zero", at);
        case lzw::DecodeFault::trailing_bytes:
            return fail(path, "damaged: %llu bytes after the end of the stream, from byte %llu",
                        static_cast<unsigned long long>(bk.size) - at, at);
        case lzw::DecodeFault::longer_than_header:
            return fail(path, "damaged: code %u at byte %llu restores more than the %d bytes the header gives",
                        s.code, at, bk.length);
        case lzw::DecodeFault::shorter_than_header:
            return fail(path, "damaged: END_CODE at byte %llu after %llu bytes, but the header gives %d", at,
                        restored, bk.length);
    }
    return EXIT_FAILED;
}

// After decoding: the read went right and met the end of the file where its
// size said.
int check_read(const char* path, const BkFile& bk) {
    if (run.read_error != 0) {
        return fail(path, "%s", std::strerror(run.read_error));
    }
    if (const int status = report_damage(path, bk); status != EXIT_DONE) {
        return status;
    }
    if (std::fgetc(run.input) != EOF || !converter::ended_at(run.input, bk.size)) {
        return fail(path, "it changed while being read");
    }
    return EXIT_DONE;
}

// The name FILE.bk restores to by default: FILE.
bool default_output(std::string_view path, std::string& output) {
    const std::size_t slash = path.rfind('/');
    const std::string_view name = path.substr(slash == std::string_view::npos ? 0 : slash + 1);
    if (!name.ends_with(".bk") || name.size() == 3) {
        return false;
    }
    output = path.substr(0, path.size() - 3);
    return true;
}

int already_exists(const char* path, const std::string& output) {
    return fail(path, "%s already exists; name an OUTPUT to replace it", output.c_str());
}

int restore_file(const char* path, const char* given_output) {
    std::string output;
    if (given_output == nullptr && !default_output(path, output)) {
        return usage("a name that does not end in .bk needs an OUTPUT");
    }
    if (given_output != nullptr) {
        output = given_output;
    } else if (struct stat existing {}; ::lstat(output.c_str(), &existing) == 0) {
        return already_exists(path, output);
    }
    BkFile bk;
    if (const int status = open_bk(path, bk); status != EXIT_DONE) {
        return status;
    }
    const bool to_stdout = output == "-";
    run.shown = to_stdout ? "standard output" : output;
    const char* shown = run.shown.c_str();
    const mode_t mode = converter::output_mode(bk.mode);
    if (to_stdout) {
        converter::begin_output_to_stdout();
    } else if (const int error = given_output != nullptr
                                     ? converter::begin_named_output(output, mode)
                                     : converter::begin_output(output, mode, converter::AtTarget::keep)) {
        return fail(shown, "%s", std::strerror(error));
    }
    lzw::start_decoder(read_stream, static_cast<std::uint64_t>(bk.size) - converter::HEADER_BYTES,
                       static_cast<std::uint64_t>(bk.length));
    for (auto bytes = lzw::decode_more(); !bytes.empty(); bytes = lzw::decode_more()) {
        if (const int error = converter::append_output(bytes)) {
            return fail(shown, "%s", std::strerror(error));
        }
    }
    if (const int status = check_read(path, bk); status != EXIT_DONE) {
        return status;
    }
    if (const int commit_error = converter::commit_output()) {
        if (commit_error == EEXIST && given_output == nullptr) {  // it appeared while this one was restored
            return already_exists(path, output);
        }
        return fail(shown, "%s", std::strerror(commit_error));
    }
    return EXIT_DONE;
}

// Restores; when that fails after bytes went where nothing takes them back
// (standard output, a device, a FIFO), says how many.
int restore(const char* path, const char* given_output) {
    const int status = restore_file(path, given_output);
    if (const std::uint64_t gone = converter::bytes_gone_out(); status == EXIT_FAILED && gone > 0) {
        fail(run.shown.c_str(), "%llu restored bytes were written before this and cannot be taken back",
             static_cast<unsigned long long>(gone));
    }
    return status;
}

// --test: the encoder reads the restored bytes through this stream...
ssize_t read_restored(void*, char* into, std::size_t size) {
    while (run.pending.empty()) {
        run.pending = lzw::decode_more();
        if (run.pending.empty()) {
            return 0;
        }
    }
    const std::size_t n = std::min(size, run.pending.size());
    std::memcpy(into, run.pending.data(), n);
    run.pending = run.pending.subspan(n);
    return static_cast<ssize_t>(n);
}

// ...and its code stream is compared with the file's, byte for byte.
bool compare_with_file(std::span<const std::uint8_t> bytes) {
    static std::uint8_t stored[64 * 1024];
    while (!bytes.empty() && run.mismatch == UINT64_MAX) {
        const std::size_t got = std::fread(stored, 1, std::min(bytes.size(), sizeof stored), run.again);
        const std::size_t same = static_cast<std::size_t>(
            std::mismatch(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(got), stored).first -
            bytes.begin());
        if (same < got || got == 0) {
            run.mismatch = run.compared + same;
        }
        run.compared += got;
        bytes = bytes.subspan(got);
    }
    return true;
}

int test(const char* path) {
    BkFile bk;
    if (const int status = open_bk(path, bk); status != EXIT_DONE) {
        return status;
    }
    run.again = std::fopen(path, "rb");
    if (run.again == nullptr || std::fseek(run.again, converter::HEADER_BYTES, SEEK_SET) != 0) {
        return fail(path, "%s", std::strerror(errno));
    }
    const cookie_io_functions_t restored_stream{read_restored, nullptr, nullptr, nullptr};
    std::FILE* restored = ::fopencookie(nullptr, "rb", restored_stream);
    if (restored == nullptr) {
        return fail(path, "%s", std::strerror(errno));
    }
    static std::uint8_t area[64 * 1024];
    run.compared = 0;
    run.mismatch = UINT64_MAX;
    run.pending = {};
    lzw::start_decoder(read_stream, static_cast<std::uint64_t>(bk.size) - converter::HEADER_BYTES,
                       static_cast<std::uint64_t>(bk.length));
    lzw::progress_output = nullptr;
    lzw::start_engine(area, sizeof area, compare_with_file, static_cast<std::uint64_t>(bk.length));
    lzw::compress_file(restored);
    std::fclose(restored);
    const std::uint64_t stream_bytes = static_cast<std::uint64_t>(bk.size) - converter::HEADER_BYTES;
    if (const int status = check_read(path, bk); status != EXIT_DONE) {
        return status;
    }
    // An empty input has one other sound form, from earlier converters: the
    // decoder has checked it whole, and no encoder today writes it.
    const bool other_empty_form = bk.length == 0;
    if (!other_empty_form && (run.mismatch != UINT64_MAX || run.compared != stream_bytes)) {
        const std::uint64_t at = std::min(run.mismatch, run.compared);
        return fail(path, "damaged: restores whole, but from byte %llu differs from what mornak writes for "
                    "those bytes", static_cast<unsigned long long>(converter::HEADER_BYTES + at));
    }
    std::printf("%s: OK, %d bytes\n", path, bk.length);
    return EXIT_DONE;
}

// Gives back what one file's run held, whatever happened.
void end_file() {
    converter::abort_output();
    if (run.input != nullptr) {
        std::fclose(run.input);
    }
    if (run.again != nullptr) {
        std::fclose(run.again);
    }
    run = Run{};
}

}  // namespace

int main(int argc, char** argv) {
    converter::install_signal_policy();
    std::vector<const char*> operands;
    bool testing = false;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (options_done || a == "-" || !a.starts_with("-")) {
            operands.push_back(argv[i]);
        } else if (a == "--") {
            options_done = true;
        } else if (a == "--test" || a == "-t") {
            testing = true;
        } else if (a == "--help" || a == "-h") {
            std::printf("%s\n%s", USAGE, HELP);
            return converter::finish_standard_output("unmornak", EXIT_DONE);
        } else if (a == "--version" || a == "-V") {
            std::printf("unmornak %s\n", MORNAK_VERSION);
            return converter::finish_standard_output("unmornak", EXIT_DONE);
        } else {
            return usage(("unknown option " + std::string(a)).c_str());
        }
    }
    if (operands.empty()) {
        return usage("no file named");
    }
    if (!testing && operands.size() > 2) {
        return usage("too many files: restore takes FILE.bk and at most one OUTPUT");
    }
    int status = EXIT_DONE;
    if (testing) {
        for (const char* path : operands) {
            status = std::max(status, test(path));
            end_file();
        }
    } else {
        status = restore(operands[0], operands.size() == 2 ? operands[1] : nullptr);
        end_file();
    }
    return converter::finish_standard_output("unmornak", status);
}
