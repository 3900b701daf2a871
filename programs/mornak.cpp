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
#include <string>

#include "mornak.h"
#include "programs/compress_file.hpp"
#include "programs/input_file.hpp"
#include "programs/output_file.hpp"
#include "programs/output_name.hpp"
#include "programs/signals.hpp"
#include "programs/standard_output.hpp"

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
constexpr std::int64_t MAX_INPUT_BYTES = MORNAK_MAX_INPUT;

// What a run holds that has to be given back however it ends.
struct Run {
    programs::InputFile input;
    programs::OutputFile output;
    mornak_encoder* encoder = nullptr;
};
Run run;

[[gnu::format(printf, 1, 2)]] int fail(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    return EXIT_FAILED;
}

int open_and_measure(const char* path) {
    run.input = programs::open_input(path);
    switch (run.input.kind) {
        case programs::InputFile::Kind::regular:
            break;
        case programs::InputFile::Kind::folder:
            return fail("Can't read file %s: %s\n", path, std::strerror(EISDIR));
        case programs::InputFile::Kind::other:
            return fail("Can't read file %s: not a regular file\n", path);
        case programs::InputFile::Kind::failed:
            if (run.input.failed_step == programs::InputFile::Step::open) {
                return fail("Can't open file %s\n", path);
            }
            return fail("Can't read file %s: %s\n", path, std::strerror(run.input.error));
    }
    if (run.input.size > MAX_INPUT_BYTES) {
        return fail("Can't convert file %s: %lld bytes is more than the %lld a .bk file can hold\n", path,
                    static_cast<long long>(run.input.size), static_cast<long long>(MAX_INPUT_BYTES));
    }
    return EXIT_CONVERTED;
}

int convert(const char* path) {
    if (const int status = open_and_measure(path); status != EXIT_CONVERTED) {
        return status;
    }
    const std::int64_t size = run.input.size;
    const std::string target = programs::derive_output_name(path);
    const mode_t bk_mode = programs::output_mode(run.input.mode);
    if (const int error = run.output.begin(target, bk_mode, programs::AtTarget::replace)) {
        return fail("Can't write file %s: %s\n", target.c_str(), std::strerror(error));
    }
    run.encoder = mornak_encoder_create();
    if (run.encoder == nullptr) {
        return fail("Can't convert file %s: %s\n", path, std::strerror(ENOMEM));
    }
    const programs::Conversion conversion =
        programs::compress_file(run.encoder, run.input.stream.get(), size, [](std::span<const std::uint8_t> bytes) { return run.output.append(bytes); }, stdout);
    switch (conversion.outcome) {
        case programs::Conversion::converted:
            break;
        case programs::Conversion::write_failed:
            return fail("Can't write file %s: %s\n", target.c_str(), std::strerror(conversion.error));
        case programs::Conversion::read_failed:
            return fail("Can't read file %s: %s\n", path, std::strerror(conversion.error));
        case programs::Conversion::changed:
            return fail("Can't read file %s: it changed while being read\n", path);
    }
    const auto out_bytes = static_cast<long long>(run.output.bytes());
    if (const int error = run.output.commit()) {
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
    programs::install_signal_policy();
    if (argc != 2) {
        std::printf("%s%s", BANNER, USAGE);
        return programs::finish_standard_output("mornak", EXIT_USAGE);
    }
    if (std::strcmp(argv[1], "--help") == 0) {
        std::printf("%s%s%s", BANNER, USAGE, HELP);
        return programs::finish_standard_output("mornak", EXIT_CONVERTED);
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s", BANNER);
        return programs::finish_standard_output("mornak", EXIT_CONVERTED);
    }
    const int status = convert(argv[1]);
    // The one cleanup path, whatever happened above.
    run.output.abort();
    run.input = {};
    mornak_encoder_free(run.encoder);
    return programs::finish_standard_output("mornak", status);
}
