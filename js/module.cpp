// The WebAssembly side of the npm package: the library's streaming contexts
// behind calls that take and give only 32-bit integers and doubles, so that
// mornak.js needs no glue of emscripten's.
//
// Input goes through one area shared by every context: each call of
// mornak.js copies a chunk in, then runs one context until the chunk is used
// up, copying what comes out before the next run. JavaScript runs one call
// at a time, so the area is never wanted by two contexts at once. The
// encoder writes into a shared output area; the decoder hands out its own
// runs of restored bytes, so restoring copies each byte once, out of the
// module's memory into the caller's array.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "mornak.h"
#include "programs/output_name.hpp"

namespace {

constexpr std::size_t INPUT_AREA = 1 << 20;   // bytes per copy into the module
// Bytes an encoder writes per run: room for what a full input area gives in
// most inputs, so that most chunks take one run.
constexpr std::size_t OUTPUT_AREA = 2 << 20;

unsigned char input_area[INPUT_AREA];
unsigned char output_area[OUTPUT_AREA];

mornak_in in{input_area, 0, 0};
const unsigned char* output = output_area;  // where the last run's bytes are
std::size_t produced = 0;                    // how many there are
unsigned char header[MORNAK_HEADER_BYTES];
mornak_fault fault{MORNAK_OK, 0, 0, 0};
char words[MORNAK_FAULT_TEXT_BYTES];
std::string name;  // what the last naming call gave; empty for none

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE unsigned char* js_input_area() { return input_area; }
EMSCRIPTEN_KEEPALIVE std::size_t js_input_capacity() { return INPUT_AREA; }
EMSCRIPTEN_KEEPALIVE unsigned js_version() { return mornak_version(); }

// The next `size` bytes are in the input area.
EMSCRIPTEN_KEEPALIVE void js_give(std::size_t size) { in = {input_area, size, 0}; }
EMSCRIPTEN_KEEPALIVE int js_input_left() { return in.pos < in.size; }
EMSCRIPTEN_KEEPALIVE const unsigned char* js_output() { return output; }
EMSCRIPTEN_KEEPALIVE std::size_t js_produced() { return produced; }

EMSCRIPTEN_KEEPALIVE mornak_encoder* js_encoder_create() { return mornak_encoder_create(); }
EMSCRIPTEN_KEEPALIVE void js_encoder_free(mornak_encoder* e) { mornak_encoder_free(e); }
// size: a double, JavaScript's number; below 0 for a size not known.
EMSCRIPTEN_KEEPALIVE int js_encoder_begin(mornak_encoder* e, double size) {
    if (size > static_cast<double>(MORNAK_MAX_INPUT)) {
        return mornak_encoder_begin(e, std::int64_t{MORNAK_MAX_INPUT} + 1);
    }
    return mornak_encoder_begin(e, size < 0 ? MORNAK_SIZE_UNKNOWN : static_cast<std::int64_t>(size));
}
EMSCRIPTEN_KEEPALIVE int js_encoder_run(mornak_encoder* e, int finish) {
    mornak_out out{output_area, OUTPUT_AREA, 0};
    const mornak_status status = mornak_encoder_run(e, &in, &out, finish);
    output = output_area;
    produced = out.pos;
    return status;
}
// The 8 bytes are then at js_header().
EMSCRIPTEN_KEEPALIVE int js_encoder_header(mornak_encoder* e) { return mornak_encoder_header(e, header); }
EMSCRIPTEN_KEEPALIVE const unsigned char* js_header() { return header; }

EMSCRIPTEN_KEEPALIVE mornak_decoder* js_decoder_create() { return mornak_decoder_create(); }
EMSCRIPTEN_KEEPALIVE void js_decoder_free(mornak_decoder* d) { mornak_decoder_free(d); }
EMSCRIPTEN_KEEPALIVE int js_decoder_begin(mornak_decoder* d) { return mornak_decoder_begin(d); }
EMSCRIPTEN_KEEPALIVE int js_decoder_run(mornak_decoder* d, int finish) {
    return mornak_decoder_run_direct(d, &in, finish, &output, &produced);
}

EMSCRIPTEN_KEEPALIVE mornak_verifier* js_verifier_create() { return mornak_verifier_create(); }
EMSCRIPTEN_KEEPALIVE void js_verifier_free(mornak_verifier* v) { mornak_verifier_free(v); }
EMSCRIPTEN_KEEPALIVE int js_verifier_begin(mornak_verifier* v) { return mornak_verifier_begin(v); }
EMSCRIPTEN_KEEPALIVE int js_verifier_run(mornak_verifier* v, int finish) {
    produced = 0;  // checking gives nothing out
    return mornak_verifier_run(v, &in, finish);
}

// The fault of a decoder or verifier, read field by field after this call;
// the byte counts as doubles, exact up to 2^53.
EMSCRIPTEN_KEEPALIVE void js_decoder_fault(const mornak_decoder* d) { mornak_decoder_fault(d, &fault); }
EMSCRIPTEN_KEEPALIVE void js_verifier_fault(const mornak_verifier* v) { mornak_verifier_fault(v, &fault); }
EMSCRIPTEN_KEEPALIVE int js_fault_status() { return fault.status; }
EMSCRIPTEN_KEEPALIVE double js_fault_at_byte() { return static_cast<double>(fault.at_byte); }
EMSCRIPTEN_KEEPALIVE std::uint32_t js_fault_code() { return fault.code; }
EMSCRIPTEN_KEEPALIVE double js_fault_restored() { return static_cast<double>(fault.restored); }
// unmornak's words for the last fault read, for a file of bk_size bytes whose
// header gives `length` (0 when the header is at fault). A C string.
EMSCRIPTEN_KEEPALIVE const char* js_fault_text(double bk_size, double length) {
    mornak_fault_text(&fault, static_cast<std::uint64_t>(bk_size), static_cast<std::uint64_t>(length), words,
                      sizeof words);
    return words;
}
EMSCRIPTEN_KEEPALIVE const char* js_status_name(int status) {
    return mornak_status_name(static_cast<mornak_status>(status));
}

// The programs' names for what they make: `path` is a C string written into
// the input area. A C string, or null when restored_name gives none.
EMSCRIPTEN_KEEPALIVE const char* js_bk_name() {
    name = programs::derive_output_name(reinterpret_cast<const char*>(input_area));
    return name.c_str();
}
EMSCRIPTEN_KEEPALIVE const char* js_restored_name() {
    const auto restored = programs::restored_name(reinterpret_cast<const char*>(input_area));
    name = restored.value_or("");
    return restored ? name.c_str() : nullptr;
}

}  // extern "C"
