// mornak: converts one file into a .bk file beside it.
//
//   mornak FILE        convert FILE
//   mornak --help      the banner, the usage and what it does
//   mornak --version   the banner's first line
//
// Any other single argument is a file name; ./--help converts a file of that
// name. Exit status: 0 after a conversion or --help/--version, 1 when the
// conversion failed (nothing was written and any existing .bk file is
// untouched) or standard output could not be written, 2 after the usage
// banner.

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "converter/bk_header.hpp"
#include "converter/input_file.hpp"
#include "converter/output_file.hpp"
#include "converter/output_name.hpp"
#include "converter/signals.hpp"
#include "converter/standard_output.hpp"
#include "lzw/encoder.hpp"

namespace {

constexpr int EXIT_CONVERTED = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

constexpr const char* BANNER = "Ostrivel ver. 1.2 by Vuldrim\n";
constexpr const char* USAGE = "Usage: mornak <filename>\n";
constexpr const char* HELP =
    "\n"
    "Converts <filename> into a .bk file beside it (story.txt gives story.bk),\n"
    "replacing a file of that name once the new one is complete.\n"
    "unmornak restores it. To convert a file named --help, write ./--help.\n"
    "\n"
    "Exit status: 0 converted, 1 failed, 2 wrong usage.\n";

// The .bk header stores the input length as a signed 32-bit number.
constexpr std::int64_t MAX_INPUT_BYTES = std::numeric_limits<std::int32_t>::max();

// Bytes of code stream collected before they go to the file in one write.
// Small enough to stay in the processor's cache beside the dictionary: the
// stream passes through it instead of pushing the dictionary out.
constexpr std::size_t OUTPUT_CAPACITY = 64 * 1024;
std::uint8_t output_area[OUTPUT_CAPACITY];

// What a run holds that has to be given back however it ends.
struct Run {
    std::FILE* input = nullptr;
    int write_error = 0;  // errno of the first failed write of the .bk file
};
Run run;

[[gnu::format(printf, 1, 2)]] int fail(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    return EXIT_FAILED;
}

bool drain_to_output(std::span<const std::uint8_t> bytes) {
    run.write_error = converter::append_output(bytes);
    return run.write_error == 0;
}

int open_and_measure(const char* path, std::int64_t& size, mode_t& mode) {
    const int fd = converter::open_input(path);
    if (fd < 0) {
        return fail("Can't open file %s\n", path);
    }
    run.input = ::fdopen(fd, "rb");
    if (run.input == nullptr) {
        const int error = errno;
        ::close(fd);
        return fail("Can't read file %s: %s\n", path, std::strerror(error));
    }
    switch (converter::inspect_input(fd, size, mode)) {
        case converter::InputKind::regular:
            break;
        case converter::InputKind::folder:
            return fail("Can't read file %s: %s\n", path, std::strerror(EISDIR));
        case converter::InputKind::other:
            return fail("Can't read file %s: not a regular file\n", path);
        case converter::InputKind::unknown:
            return fail("Can't read file %s: %s\n", path, std::strerror(errno));
    }
    if (size > MAX_INPUT_BYTES) {
        return fail("Can't convert file %s: %lld bytes is more than the %lld a .bk file can hold\n", path,
                    static_cast<long long>(size), static_cast<long long>(MAX_INPUT_BYTES));
    }
    return EXIT_CONVERTED;
}

int convert(const char* path) {
    std::int64_t size = 0;
    mode_t mode = 0;
    if (const int status = open_and_measure(path, size, mode); status != EXIT_CONVERTED) {
        return status;
    }
    const std::string target = converter::derive_output_name(path);
    const mode_t bk_mode = converter::output_mode(mode);
    if (const int error = converter::begin_output(target, bk_mode, converter::AtTarget::replace)) {
        return fail("Can't write file %s: %s\n", target.c_str(), std::strerror(error));
    }
    const auto header = converter::make_header(static_cast<std::int32_t>(size));
    if (!drain_to_output(header)) {
        return fail("Can't write file %s: %s\n", target.c_str(), std::strerror(run.write_error));
    }

    lzw::start_engine(output_area, OUTPUT_CAPACITY, drain_to_output, static_cast<std::uint64_t>(size));
    lzw::compress_file(run.input);
    if (lzw::writer_failed()) {
        return fail("Can't write file %s: %s\n", target.c_str(), std::strerror(run.write_error));
    }
    if (std::ferror(run.input)) {
        return fail("Can't read file %s: %s\n", path, std::strerror(lzw::read_error));
    }
    if (!converter::ended_at(run.input, size)) {
        return fail("Can't read file %s: it changed while being read\n", path);
    }
    const auto out_bytes = static_cast<long long>(converter::output_bytes());
    if (const int error = converter::commit_output()) {
        return fail("Can't write file %s: %s\n", target.c_str(), std::strerror(error));
    }

    std::printf("In : %lld bytes\n", static_cast<long long>(size));
    std::printf("Out: %lld bytes\n", out_bytes);
    if (size == 0) {
        std::printf("Out/In: n/a (empty input)\n");
    } else {
        std::printf("Out/In: %.3f\n", static_cast<double>(out_bytes) / static_cast<double>(size));
    }
    return EXIT_CONVERTED;
}

}  // namespace

int main(int argc, char** argv) {
    converter::install_signal_policy();
    if (argc != 2) {
        std::printf("%s%s", BANNER, USAGE);
        return converter::finish_standard_output("mornak", EXIT_USAGE);
    }
    if (std::strcmp(argv[1], "--help") == 0) {
        std::printf("%s%s%s", BANNER, USAGE, HELP);
        return converter::finish_standard_output("mornak", EXIT_CONVERTED);
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s", BANNER);
        return converter::finish_standard_output("mornak", EXIT_CONVERTED);
    }
    const int status = convert(argv[1]);
    // The one cleanup path, whatever happened above.
    converter::abort_output();
    if (run.input != nullptr) {
        std::fclose(run.input);
    }
    return converter::finish_standard_output("mornak", status);
}
