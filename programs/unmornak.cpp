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
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mornak.h"
#include "programs/fault_message.hpp"
#include "programs/input_file.hpp"
#include "programs/output_file.hpp"
#include "programs/output_name.hpp"
#include "programs/signals.hpp"
#include "programs/standard_output.hpp"

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

constexpr std::size_t READ_BLOCK = 64 * 1024;  // .bk bytes read at a time

// What one file's run holds that has to be given back however it ends.
struct Run {
    programs::InputFile input;
    programs::OutputFile output;
    mornak_decoder* decoder = nullptr;
    mornak_verifier* verifier = nullptr;
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

// A .bk file being read: its size and mode when opened, its header's
// length, and the bytes read so far.
struct BkFile {
    const char* path = nullptr;
    std::int64_t size = 0;
    mode_t mode = 0;
    std::uint64_t length = 0;
    std::uint8_t header[MORNAK_HEADER_BYTES] = {};
    std::size_t got = 0;        // bytes the last read gave
    std::uint64_t left = 0;     // bytes of the measured size not read yet
    int read_error = 0;
};
BkFile bk;

// Reads the next block into `into`, at most to the measured size; false
// after a failed read.
bool read_block(std::span<std::uint8_t> into) {
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(into.size(), bk.left));
    bk.got = std::fread(into.data(), 1, wanted, run.input.stream.get());
    bk.left -= bk.got;
    if (bk.got < wanted) {
        bk.left = 0;  // the file ended early: the stream ends here
        if (std::ferror(run.input.stream.get())) {
            bk.read_error = errno;
            return false;
        }
    }
    return true;
}

// The message for a fault of the file.
int report_damage(const mornak_fault& fault) {
    return fail(bk.path, "%s", programs::fault_message(fault, static_cast<std::uint64_t>(bk.size), bk.length).c_str());
}

// Opens the file and reads its header; the header's faults are reported
// before anything is written.
int open_bk(const char* path) {
    bk.path = path;
    run.input = programs::open_input(path);
    switch (run.input.kind) {
        case programs::InputFile::Kind::regular:
            break;
        case programs::InputFile::Kind::folder:
            return fail(path, "%s", std::strerror(EISDIR));
        case programs::InputFile::Kind::other:
            return fail(path, "not a regular file");
        case programs::InputFile::Kind::failed:
            return fail(path, "%s", std::strerror(run.input.error));
    }
    bk.size = run.input.size;
    bk.mode = run.input.mode;
    // The header alone first: a damaged one is refused before any output.
    std::uint8_t header[MORNAK_HEADER_BYTES];
    const std::size_t got = std::fread(header, 1, sizeof header, run.input.stream.get());
    if (got < sizeof header && std::ferror(run.input.stream.get())) {
        return fail(path, "%s", std::strerror(errno));
    }
    if (const mornak_status status = mornak_content_size(header, got, &bk.length); status != MORNAK_OK) {
        const std::uint64_t at = status == MORNAK_ERROR_HEADER_CUT ? got : status == MORNAK_ERROR_NOT_BK ? 0 : 4;
        return report_damage({status, at, 0, 0});
    }
    std::memcpy(bk.header, header, got);
    bk.got = got;
    bk.left = static_cast<std::uint64_t>(bk.size) - got;
    return EXIT_DONE;
}

// After the last byte: the file ended where its size said, so it did not
// grow or shrink while it was read.
bool read_as_measured() {
    return std::fgetc(run.input.stream.get()) == EOF && run.input.ended_at_size();
}

int already_exists(const char* path, const std::string& output) {
    return fail(path, "%s already exists; name an OUTPUT to replace it", output.c_str());
}

int restore_file(const char* path, const char* given_output) {
    const std::optional<std::string> default_name = programs::restored_name(path);
    if (given_output == nullptr && !default_name) {
        return usage("a name that does not end in .bk needs an OUTPUT");
    }
    const std::string output = given_output != nullptr ? given_output : *default_name;
    if (struct stat existing {}; given_output == nullptr && ::lstat(output.c_str(), &existing) == 0) {
        return already_exists(path, output);
    }
    if (const int status = open_bk(path); status != EXIT_DONE) {
        return status;
    }
    const bool to_stdout = output == "-";
    run.shown = to_stdout ? "standard output" : output;
    const char* shown = run.shown.c_str();
    const mode_t mode = programs::output_mode(bk.mode);
    if (to_stdout) {
        run.output.begin_standard_output();
    } else if (const int error = given_output != nullptr
                                     ? run.output.begin_named(output, mode)
                                     : run.output.begin(output, mode, programs::AtTarget::keep)) {
        return fail(shown, "%s", std::strerror(error));
    }
    run.decoder = mornak_decoder_create();
    if (run.decoder == nullptr) {
        return fail(path, "%s", std::strerror(ENOMEM));
    }
    mornak_decoder_begin(run.decoder);
    mornak_in in{bk.header, bk.got, 0};
    mornak_status status = MORNAK_MORE;
    while (status == MORNAK_MORE) {
        if (in.pos == in.size && bk.left != 0) {
            // The file is read straight into the decoder's own input block.
            unsigned char* room = nullptr;
            std::size_t room_size = 0;
            mornak_decoder_input_room(run.decoder, &room, &room_size);
            if (!read_block({room, room_size})) {
                return fail(path, "%s", std::strerror(bk.read_error));
            }
            in = {room, bk.got, 0};
        }
        // Restored bytes are written straight from the decoder's own area.
        const unsigned char* restored = nullptr;
        std::size_t size = 0;
        status = mornak_decoder_run_direct(run.decoder, &in, bk.left == 0 ? 1 : 0, &restored, &size);
        if (const int error = run.output.append({restored, size})) {
            return fail(shown, "%s", std::strerror(error));
        }
    }
    if (status != MORNAK_OK) {
        mornak_fault fault;
        mornak_decoder_fault(run.decoder, &fault);
        return report_damage(fault);
    }
    if (!read_as_measured()) {
        return fail(path, "it changed while being read");
    }
    if (const int commit_error = run.output.commit()) {
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
    if (const std::uint64_t gone = run.output.bytes_gone_out(); status == EXIT_FAILED && gone > 0) {
        fail(run.shown.c_str(), "%llu restored bytes were written before this and cannot be taken back",
             static_cast<unsigned long long>(gone));
    }
    return status;
}

// --test: the verifier restores the file, encodes what it restores again and
// compares that with the file.
int test(const char* path) {
    if (const int status = open_bk(path); status != EXIT_DONE) {
        return status;
    }
    run.verifier = mornak_verifier_create();
    if (run.verifier == nullptr) {
        return fail(path, "%s", std::strerror(ENOMEM));
    }
    mornak_verifier_begin(run.verifier);
    static std::uint8_t block[READ_BLOCK];
    mornak_in in{bk.header, bk.got, 0};
    mornak_status status = MORNAK_MORE;
    while (status == MORNAK_MORE) {
        if (in.pos == in.size && bk.left != 0) {
            if (!read_block(block)) {
                return fail(path, "%s", std::strerror(bk.read_error));
            }
            in = {block, bk.got, 0};
        }
        status = mornak_verifier_run(run.verifier, &in, bk.left == 0 ? 1 : 0);
    }
    mornak_fault fault;
    mornak_verifier_fault(run.verifier, &fault);
    if (status != MORNAK_OK && status != MORNAK_ERROR_NOT_CANONICAL) {
        return report_damage(fault);
    }
    if (!read_as_measured()) {
        return fail(path, "it changed while being read");
    }
    if (status != MORNAK_OK) {
        return report_damage(fault);
    }
    std::printf("%s: OK, %llu bytes\n", path, static_cast<unsigned long long>(bk.length));
    return EXIT_DONE;
}

// Gives back what one file's run held, whatever happened.
void end_file() {
    run.output.abort();
    mornak_decoder_free(run.decoder);
    mornak_verifier_free(run.verifier);
    run.input = {};
    run.decoder = nullptr;
    run.verifier = nullptr;
    run.shown.clear();
    bk = BkFile{};
}

}  // namespace

int main(int argc, char** argv) {
    programs::install_signal_policy();
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
            return programs::finish_standard_output("unmornak", EXIT_DONE);
        } else if (a == "--version" || a == "-V") {
            std::printf("unmornak %s\n", MORNAK_VERSION);
            return programs::finish_standard_output("unmornak", EXIT_DONE);
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
    return programs::finish_standard_output("unmornak", status);
}
