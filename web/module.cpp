// What the page's worker calls in the WebAssembly module: one job at a time
// (convert, restore or check one file), fed in chunks through fixed areas of
// the module's memory, naming what it makes as the programs do and saying
// what is wrong with a .bk file in unmornak's words, which are the library's,
// and by its status's name.
//
// The worker copies each chunk of the file into the input area, calls
// web_give, then web_step until it returns something other than MORNAK_MORE
// or web_wants_input says the chunk is used up; after each step it copies
// web_produced() bytes from web_output() out of the module's memory before
// the next call. Nothing here grows with the file: the contexts are made once
// and kept, the areas are fixed.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <string>

#include "mornak.h"
#include "programs/output_name.hpp"

namespace {

// The worker reads the file in parts of up to this size and hands each over
// in one call, reporting progress after each.
constexpr std::size_t INPUT_AREA = 1 << 20;   // bytes of the file per call
constexpr std::size_t OUTPUT_AREA = 1 << 20;  // bytes the encoder writes per step

enum Job { convert = 0, restore = 1, check = 2 };

unsigned char input_area[INPUT_AREA];
unsigned char output_area[OUTPUT_AREA];

// Made on first use and kept for every later file.
mornak_encoder* encoder = nullptr;
mornak_decoder* decoder = nullptr;
mornak_verifier* verifier = nullptr;

struct Current {
    Job job = convert;
    std::uint64_t file_size = 0;   // bytes of the file being read
    std::uint64_t length = 0;      // the .bk header's length (restore, check); 0 when it gives none
    bool header_seen = false;
    mornak_in in{input_area, 0, 0};
    int finish = 0;
    const unsigned char* output = output_area;  // where the last step's bytes are
    std::size_t produced = 0;      // how many bytes the last step gave
    mornak_status status = MORNAK_MORE;
};
Current current;

std::string text;  // what web_output_name last gave
char words[MORNAK_FAULT_TEXT_BYTES];  // what web_fault_message last gave

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE unsigned char* web_input_area() { return input_area; }
EMSCRIPTEN_KEEPALIVE std::size_t web_input_capacity() { return INPUT_AREA; }

// Starts a job on a file of `file_size` bytes (a double: JavaScript's number).
// MORNAK_MORE when it can take input, MORNAK_ERROR_MEMORY when its context
// cannot be made, MORNAK_ERROR_TOO_LARGE over MORNAK_MAX_INPUT bytes.
EMSCRIPTEN_KEEPALIVE int web_begin(int job, double file_size) {
    current = Current{};
    current.job = static_cast<Job>(job);
    if (!(file_size >= 0 && file_size <= MORNAK_MAX_INPUT)) {
        return current.status = MORNAK_ERROR_TOO_LARGE;
    }
    current.file_size = static_cast<std::uint64_t>(file_size);
    switch (current.job) {
        case convert:
            encoder = encoder != nullptr ? encoder : mornak_encoder_create();
            if (encoder == nullptr) {
                return current.status = MORNAK_ERROR_MEMORY;
            }
            mornak_encoder_begin(encoder, static_cast<std::int64_t>(current.file_size));
            break;
        case restore:
            decoder = decoder != nullptr ? decoder : mornak_decoder_create();
            if (decoder == nullptr) {
                return current.status = MORNAK_ERROR_MEMORY;
            }
            mornak_decoder_begin(decoder);
            break;
        case check:
            verifier = verifier != nullptr ? verifier : mornak_verifier_create();
            if (verifier == nullptr) {
                return current.status = MORNAK_ERROR_MEMORY;
            }
            mornak_verifier_begin(verifier);
            break;
    }
    return current.status = MORNAK_MORE;
}

// The next `size` bytes of the file are in the input area; `finish` when they
// are its last. The header's faults are the decoder's or verifier's to find,
// as for unmornak; its length is taken from the first chunk, which holds the
// whole header unless the file is shorter.
EMSCRIPTEN_KEEPALIVE int web_give(std::size_t size, int finish) {
    if (current.status != MORNAK_MORE || size > INPUT_AREA) {
        return current.status = current.status != MORNAK_MORE ? current.status : MORNAK_ERROR_ARGUMENT;
    }
    current.in = {input_area, size, 0};
    current.finish = finish;
    if (current.job != convert && !current.header_seen) {
        current.header_seen = true;
        if (mornak_content_size(input_area, size, &current.length) != MORNAK_OK) {
            current.length = 0;
        }
    }
    return current.status;
}

// One run of the job's context over what is left of the chunk. Restoring
// hands out the decoder's own run of restored bytes, not a copy of it.
EMSCRIPTEN_KEEPALIVE int web_step() {
    current.output = output_area;
    current.produced = 0;
    if (current.status != MORNAK_MORE) {
        return current.status;
    }
    mornak_out out{output_area, OUTPUT_AREA, 0};
    switch (current.job) {
        case convert:
            current.status = mornak_encoder_run(encoder, &current.in, &out, current.finish);
            current.produced = out.pos;
            break;
        case restore:
            current.status = mornak_decoder_run_direct(decoder, &current.in, current.finish, &current.output,
                                                       &current.produced);
            break;
        case check:
            current.status = mornak_verifier_run(verifier, &current.in, current.finish);
            break;
    }
    return current.status;
}

// What the last step gave: valid until the next call into the module.
EMSCRIPTEN_KEEPALIVE const unsigned char* web_output() { return current.output; }
EMSCRIPTEN_KEEPALIVE std::size_t web_produced() { return current.produced; }

// The chunk is used up and more of the file is awaited.
EMSCRIPTEN_KEEPALIVE int web_wants_input() { return current.in.pos == current.in.size && current.finish == 0; }

// The .bk header's length (restore, check): the size of the original.
EMSCRIPTEN_KEEPALIVE double web_length() { return static_cast<double>(current.length); }

// What is wrong with the .bk file, in unmornak's words (the library's);
// empty when nothing is.
EMSCRIPTEN_KEEPALIVE const char* web_fault_message() {
    mornak_fault fault{MORNAK_OK, 0, 0, 0};
    if (current.job == restore && decoder != nullptr) {
        mornak_decoder_fault(decoder, &fault);
    } else if (current.job == check && verifier != nullptr) {
        mornak_verifier_fault(verifier, &fault);
    }
    mornak_fault_text(&fault, current.file_size, current.length, words, sizeof words);
    return words;
}

// The enumerator's name of a status the module returned, as
// mornak_status_name gives it, e.g. "MORNAK_ERROR_NO_END_CODE": the page says
// each fault of a .bk file in a sentence of its own. Static storage.
EMSCRIPTEN_KEEPALIVE const char* web_status_name(int status) {
    return mornak_status_name(static_cast<mornak_status>(status));
}

// The name of what `job` makes of the file `name` (a file name, no folder),
// as the programs name it; a file called just ".bk", which they cannot
// restore without an OUTPUT, restores to "restored".
EMSCRIPTEN_KEEPALIVE const char* web_output_name(int job, const char* name) {
    text = job == convert ? programs::derive_output_name(name) : programs::restored_name(name).value_or("restored");
    return text.c_str();
}

}  // extern "C"
