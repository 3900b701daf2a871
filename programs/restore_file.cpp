#include "programs/restore_file.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "mornak.h"
#include "programs/bk_file.hpp"
#include "programs/exit_status.hpp"
#include "programs/output_file.hpp"
#include "programs/output_name.hpp"
#include "programs/threads.hpp"

namespace programs {

namespace {

constexpr std::size_t READ_BLOCK = 64 * 1024;  // .bk bytes read at a time when testing

struct FreeDecoder {
    void operator()(mornak_decoder* decoder) const { mornak_decoder_free(decoder); }
};
struct FreeVerifier {
    void operator()(mornak_verifier* verifier) const { mornak_verifier_free(verifier); }
};

[[gnu::format(printf, 2, 3)]] int fail(const char* name, const char* format, ...) {
    std::fprintf(stderr, "unmornak: %s: ", name);
    std::va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
    return EXIT_FAILED;
}

// What is wrong with the file, as the decoder or verifier found it, in the
// library's words.
int report_damage(const BkFile& bk, const mornak_fault& fault) {
    char words[MORNAK_FAULT_TEXT_BYTES];
    mornak_fault_text(&fault, static_cast<std::uint64_t>(bk.input.size), bk.length, words, sizeof words);
    return fail(bk.path, "%s", words);
}

int report_damage(const BkFile& bk, const mornak_decoder* decoder) {
    mornak_fault fault;
    mornak_decoder_fault(decoder, &fault);
    return report_damage(bk, fault);
}

// A named output as messages name it.
std::string shown(const std::string& output) { return output == "-" ? "standard output" : output; }

int already_exists(const char* bk_path, const std::string& output) {
    return fail(bk_path, "%s already exists; name an OUTPUT to replace it", output.c_str());
}

// A name the user gave is begun as such ("-": standard output); the default
// one is always a file, made only where nothing holds its name. 0 or errno.
int begin_output(OutputFile& output, const std::string& target, bool named, mode_t mode) {
    if (!named) {
        return output.begin(target, mode, AtTarget::keep);
    }
    if (target == "-") {
        output.begin_standard_output();
        return 0;
    }
    return output.begin_named(target, mode);
}

// The restore's end, once every byte went to the output: the verdict, then
// the output committed.
int finish_restore(const BkFile& bk, const char* given_output, const std::string& target, const std::string& name,
                   const mornak_decoder* decoder, mornak_status status, OutputFile& output, bool measured) {
    if (status != MORNAK_OK) {
        return report_damage(bk, decoder);
    }
    if (!measured) {
        return fail(bk.path, "it changed while being read");
    }
    if (const int error = output.commit()) {
        if (error == EEXIST && given_output == nullptr) {  // it appeared while this one was restored
            return already_exists(bk.path, target);
        }
        return fail(name.c_str(), "%s", std::strerror(error));
    }
    return EXIT_DONE;
}

// The restore, all but its last word on bytes that went out for good.
int restore(const char* bk_path, const char* given_output, const Threads& threads, OutputFile& output) {
    const std::optional<std::string> default_name = restored_name(bk_path);
    if (given_output == nullptr && !default_name) {
        return EXIT_USAGE;
    }
    const std::string target = given_output != nullptr ? given_output : *default_name;
    if (struct stat existing {}; given_output == nullptr && ::lstat(target.c_str(), &existing) == 0) {
        return already_exists(bk_path, target);
    }
    BkFile bk{bk_path};
    if (const char* problem = open_bk(bk)) {
        return fail(bk_path, "%s", problem);
    }
    // The .bk file is never touched, not even when OUTPUT names it or
    // standard output was opened on it.
    if (given_output != nullptr && target != "-" && bk.input.is_named(target.c_str())) {
        return fail(bk_path, "%s is the .bk file itself; name another OUTPUT", target.c_str());
    }
    if (given_output != nullptr && target == "-" && bk.input.is_open_as(STDOUT_FILENO)) {
        return fail(bk_path, "standard output is the .bk file itself");
    }
    const std::unique_ptr<mornak_decoder, FreeDecoder> decoder(mornak_decoder_create());
    if (decoder == nullptr) {
        return fail(bk_path, "%s", std::strerror(ENOMEM));
    }
    // With threads, the first segment is restored here and the others
    // beside the rest; that takes a sound header and a file large enough.
    std::uint64_t length = 0;
    const bool spread = bk.header_got == MORNAK_HEADER_BYTES &&
                        mornak_content_size(bk.header, MORNAK_HEADER_BYTES, &length) == MORNAK_OK &&
                        worth_threads(threads, static_cast<std::uint64_t>(bk.input.size), length);
    mornak_in in{bk.header, bk.header_got, 0};
    const unsigned char* restored = nullptr;
    std::size_t size = 0;
    mornak_status status = MORNAK_MORE;
    if (spread) {
        const mornak_point start{8 * MORNAK_HEADER_BYTES, 0};
        mornak_decoder_begin_at(decoder.get(), bk.header, &start, 1);
        in = {nullptr, 0, 0};
    } else {
        mornak_decoder_begin(decoder.get());
        // The header alone first, so that a damaged one is refused before
        // any output is made. Only a cut header ends the file here: a whole
        // one is judged with the stream after it, once the output is begun,
        // so that the output's faults come before the stream's however short
        // the file.
        const int header_cut = bk.header_got < MORNAK_HEADER_BYTES ? 1 : 0;
        status = mornak_decoder_run_direct(decoder.get(), &in, header_cut, &restored, &size);
        if (status != MORNAK_MORE) {
            return report_damage(bk, decoder.get());
        }
    }
    const std::string name = given_output != nullptr ? shown(target) : target;
    if (const int error = begin_output(output, target, given_output != nullptr, output_mode(bk.input.mode))) {
        return fail(name.c_str(), "%s", std::strerror(error));
    }
    while (status == MORNAK_MORE) {
        if (in.pos == in.size && bk.left != 0) {
            // The file is read straight into the decoder's own input block.
            unsigned char* room = nullptr;
            std::size_t room_size = 0;
            mornak_decoder_input_room(decoder.get(), &room, &room_size);
            std::size_t got = 0;
            if (const int error = read_block(bk, {room, room_size}, got)) {
                return fail(bk_path, "%s", std::strerror(error));
            }
            in = {room, got, 0};
        }
        // Restored bytes are written straight from the decoder's own area.
        status = mornak_decoder_run_direct(decoder.get(), &in, bk.left == 0 ? 1 : 0, &restored, &size);
        if (const int error = output.append({restored, size})) {
            return fail(name.c_str(), "%s", std::strerror(error));
        }
    }
    mornak_point at{};
    mornak_decoder_position(decoder.get(), &at);
    if (spread && status == MORNAK_OK && at.bk_bit != 8 * static_cast<std::uint64_t>(bk.input.size)) {
        // The first segment ended at a restart point: the others follow.
        const RestOutcome rest = restore_rest(::fileno(bk.input.stream.get()),
                                              static_cast<std::uint64_t>(bk.input.size), bk.header, threads,
                                              decoder.get(), output);
        if (rest.write_error != 0) {
            return fail(name.c_str(), "%s", std::strerror(rest.write_error));
        }
        if (rest.read_error != 0) {
            return fail(bk_path, "%s", std::strerror(rest.read_error));
        }
        const int size_now = bk.input.size_now();
        if (size_now > 0) {
            return fail(bk_path, "%s", std::strerror(size_now));
        }
        return finish_restore(bk, given_output, target, name, decoder.get(), rest.status, output, size_now == 0);
    }
    return finish_restore(bk, given_output, target, name, decoder.get(), status, output, read_as_measured(bk));
}

}  // namespace

int restore_file(const char* bk_path, const char* output, const Threads& threads) {
    OutputFile out;
    const int status = restore(bk_path, output, threads, out);
    // Only a named output is written straight in, so `output` is not null
    // where bytes went out.
    if (const std::uint64_t gone = out.bytes_gone_out(); status == EXIT_FAILED && gone > 0) {
        fail(shown(output).c_str(), "%llu restored bytes were written before this and cannot be taken back",
             static_cast<unsigned long long>(gone));
    }
    return status;
}

// The verifier restores the file, encodes what it restores again and
// compares that with the file.
int test_file(const char* bk_path, const Threads& threads) {
    BkFile bk{bk_path};
    if (const char* problem = open_bk(bk)) {
        return fail(bk_path, "%s", problem);
    }
    if (worth_threads(threads, static_cast<std::uint64_t>(bk.input.size), bk.length) &&
        test_on_threads(::fileno(bk.input.stream.get()), static_cast<std::uint64_t>(bk.input.size), threads) &&
        bk.input.size_now() == 0) {
        // Several dictionaries, each checked on its own: the threads only
        // confirm a sound file; anything else is judged whole below.
        std::printf("%s: OK, %llu bytes\n", bk_path, static_cast<unsigned long long>(bk.length));
        return EXIT_DONE;
    }
    const std::unique_ptr<mornak_verifier, FreeVerifier> verifier(mornak_verifier_create());
    if (verifier == nullptr) {
        return fail(bk_path, "%s", std::strerror(ENOMEM));
    }
    mornak_verifier_begin(verifier.get());
    static std::uint8_t block[READ_BLOCK];
    mornak_in in{bk.header, bk.header_got, 0};
    mornak_status status = MORNAK_MORE;
    while (status == MORNAK_MORE) {
        if (in.pos == in.size && bk.left != 0) {
            std::size_t got = 0;
            if (const int error = read_block(bk, block, got)) {
                return fail(bk_path, "%s", std::strerror(error));
            }
            in = {block, got, 0};
        }
        status = mornak_verifier_run(verifier.get(), &in, bk.left == 0 ? 1 : 0);
    }
    mornak_fault fault;
    mornak_verifier_fault(verifier.get(), &fault);
    if (status != MORNAK_OK && status != MORNAK_ERROR_NOT_CANONICAL) {
        return report_damage(bk, fault);
    }
    if (!read_as_measured(bk)) {
        return fail(bk_path, "it changed while being read");
    }
    if (status != MORNAK_OK) {
        return report_damage(bk, fault);
    }
    std::printf("%s: OK, %llu bytes\n", bk_path, static_cast<unsigned long long>(bk.length));
    return EXIT_DONE;
}

}  // namespace programs
