// The streaming encoder: input bytes in, a whole .bk file out.
//
// Codes start 11 bits wide and widen by one bit whenever the codes of the
// current width are used up, up to 16. Once the dictionary is full at 16 bits
// the encoder checks its output/input ratio every 100 input bytes and starts a
// fresh dictionary (CLEAR_CODE, back to 11 bits) when the ratio got worse.
#include <algorithm>
#include <cstring>

#include "code_writer.hpp"
#include "format.hpp"
#include "lifecycle.hpp"
#include "mornak.h"
#include "segment_hooks.hpp"
#include "string_table.hpp"
#include "tables_memory.hpp"

namespace {

using namespace mornak;

constexpr std::uint32_t RATIO_CHECK_GAP = 100;    // input bytes between ratio checks
constexpr std::int32_t START_RATIO_MARK = 100;    // percent
constexpr std::uint64_t PROGRESS_STEP = 64 * 1024;  // input bytes between progress calls

// Codes go straight into the caller's output while it has at least
// DIRECT_ROOM bytes free, else into the staging area first. A run stops
// writing once fewer than WRITE_MARGIN bytes are left: one step of the loop
// (a data code and a CLEAR_CODE, 7 + 16 + 16 bits) finishes at most 5 bytes
// and writes 8 past the position where its second code starts, at most 3
// bytes on; the closing codes (a data code, END_CODE and three zero codes, at
// most 7 + 16 + 4 * 17 bits) finish at most 11 and write at most 17.
constexpr std::size_t WRITE_MARGIN = 16;
constexpr std::size_t DIRECT_ROOM = 64;
constexpr std::size_t STAGING_BYTES = 64;
static_assert(STAGING_BYTES >= HEADER_BYTES + WRITE_MARGIN);

static_assert(sizeof(StringTable) <= TABLES_BYTES);

// Why the encoding loop stopped.
enum class Stop { input_used, output_full, clear };

// Everything about one stream: begin replaces it whole.
struct EncoderStream {
    Lifecycle life;
    std::int64_t size = 0;       // bytes the input must have, or MORNAK_SIZE_UNKNOWN
    std::uint64_t taken = 0;     // input bytes taken since begin
    std::uint64_t written = 0;   // .bk bytes stored since begin, header included
    std::uint64_t next_progress = PROGRESS_STEP;  // `taken` at the next progress call
    bool closed = false;         // the closing codes are written; output may still wait in `staging`

    // The dictionary. Below 16 bits `next_code` never exceeds `max_code`
    // between steps, so every code written fits in `code_width` bits.
    std::int32_t string_code = -1;  // code of the string matched so far; -1 before the first byte
    std::uint32_t next_code = FIRST_FREE_CODE;
    std::uint32_t max_code = (1u << INITIAL_CODE_BITS) - 1;
    int code_width = INITIAL_CODE_BITS;
    std::uint32_t dictionary = 0;  // CLEAR_CODEs written

    // The ratio rule, in the stream's own unsigned 32-bit arithmetic.
    std::int32_t ratio_mark = START_RATIO_MARK;  // percent at the last check
    std::uint32_t next_check = RATIO_CHECK_GAP;  // a full dictionary is checked once bytes_in passes this
    std::uint32_t bytes_in = 0;   // input bytes after the dictionary's first
    std::uint32_t bytes_out = 0;  // stream bytes stored while this dictionary lasts

    std::uint64_t out_bits = 0;  // the CodeWriter's waiting bits between runs
    int out_count = 0;
    std::uint8_t staging[STAGING_BYTES] = {};
    std::size_t staged_from = 0, staged_to = 0;  // bytes waiting for output room
};

// What the caller set, kept from stream to stream.
struct ProgressHook {
    mornak_progress_fn callback = nullptr;
    void* user = nullptr;
};

}  // namespace

// The tables, made at create; the settings, which begin keeps; the stream.
struct mornak_encoder {
    StringTable* table = nullptr;
    ProgressHook progress;
    EncoderStream s;
};

namespace {

void report(const ProgressHook& hook, const EncoderStream& s) {
    if (hook.callback != nullptr) {
        const mornak_progress p{s.taken, s.written, s.dictionary, s.bytes_in};
        hook.callback(hook.user, &p);
    }
}

// An empty dictionary at 11 bits, with the ratio rule's counters afresh.
void fresh_dictionary(StringTable& table, EncoderStream& s) {
    clear_table(table);
    s.code_width = INITIAL_CODE_BITS;
    s.max_code = (1u << INITIAL_CODE_BITS) - 1;
    s.next_code = FIRST_FREE_CODE;
    s.ratio_mark = START_RATIO_MARK;
    s.next_check = RATIO_CHECK_GAP;
    s.bytes_in = 0;
    s.bytes_out = 0;
}

// Encodes from `at` until `end`, until the writer passes `mark`, or until
// the ratio rule calls for a fresh dictionary (CLEAR_CODE is then written and
// the caller starts the dictionary). The loop's state lives in locals the
// compiler keeps in registers: through `e`, each byte stored would make it
// read the state again. bytes_in and bytes_out are not counted byte by byte
// but derived from the distance covered in the input and in the output.
Stop encode_bytes(StringTable& table, EncoderStream& e, const std::uint8_t*& at, const std::uint8_t* const end,
                  CodeWriter& writer, const std::uint8_t* const mark) {
    std::uint32_t string_code = static_cast<std::uint32_t>(e.string_code);
    std::uint32_t next_code = e.next_code;
    std::uint32_t max_code = e.max_code;
    int width = e.code_width;
    std::int32_t ratio_mark = e.ratio_mark;
    std::uint32_t next_check = e.next_check;
    CodeWriter w = writer;
    // bytes_in == e.bytes_in + (at - in_base); bytes_out == e.bytes_out + (w.position - out_base).
    const std::uint8_t* const in_base = at;
    const std::uint8_t* const out_base = w.position;
    Stop stop = Stop::input_used;
    while (at != end) {
        if (string_code >= 256) {
            // A string of three bytes or more grows while its next entry sits
            // in its first slot: the common case, in a loop of its own whose
            // only dependent step is the load of the next code.
            do {
                const std::uint32_t first = first_slot(string_code, *at);
                if (table.slots[first].tag != first_slot_tag(*at)) {
                    break;
                }
                string_code = table.slots[first].code;
            } while (++at != end);
            if (at == end) {
                break;
            }
        }
        const std::uint8_t c = *at++;
        if (string_code < 256) {
            // A string of one byte grows into a pair, found directly.
            std::uint16_t& pair = table.pairs[string_code << 8 | c];
            if (pair != 0) {
                string_code = pair;
                continue;
            }
            if (next_code <= max_code) {  // when full at 16 bits no entry is made
                pair = static_cast<std::uint16_t>(next_code);
                ++next_code;
            }
        } else {
            const std::uint32_t slot = find_slot(table, string_code, c);
            if (table.slots[slot].code != 0) {
                string_code = table.slots[slot].code;
                continue;
            }
            if (next_code <= max_code) {
                add_entry(table, slot, next_code, string_code, c);
                ++next_code;
            }
        }
        write_code(w, string_code, width);
        string_code = c;
        if (next_code > max_code) {
            if (width < MAX_CODE_BITS) {
                ++width;
                max_code = (1u << width) - 1;
            } else {
                const auto bytes_in = static_cast<std::uint32_t>(e.bytes_in + static_cast<std::uint32_t>(at - in_base));
                if (bytes_in > next_check) {
                    // Unsigned 32-bit on purpose: the stream depends on exactly
                    // this arithmetic, wrap-around of bytes_out * 100 included.
                    const auto bytes_out =
                        static_cast<std::uint32_t>(e.bytes_out + static_cast<std::uint32_t>(w.position - out_base));
                    const std::uint32_t ratio = bytes_out * 100 / bytes_in;
                    if (static_cast<std::int32_t>(ratio) > ratio_mark) {
                        write_code(w, CLEAR_CODE, width);  // still at 16 bits
                        stop = Stop::clear;
                        break;
                    }
                    ratio_mark = static_cast<std::int32_t>(ratio);
                    next_check = bytes_in + RATIO_CHECK_GAP;
                }
            }
        }
        if (w.position > mark) {
            stop = Stop::output_full;
            break;
        }
    }
    e.bytes_in += static_cast<std::uint32_t>(at - in_base);
    e.bytes_out += static_cast<std::uint32_t>(w.position - out_base);
    e.string_code = static_cast<std::int32_t>(string_code);
    e.next_code = next_code;
    e.max_code = max_code;
    e.code_width = width;
    e.ratio_mark = ratio_mark;
    e.next_check = next_check;
    writer = w;
    return stop;
}

// Writes the closing codes: the string matched so far, END_CODE and three
// zero codes that push the last real bits out of the accumulator.
void close_stream(EncoderStream& e, CodeWriter& w) {
    if (e.string_code >= 0) {
        write_code(w, static_cast<std::uint32_t>(e.string_code), e.code_width);
    }
    // A reader adds its entries one code later than the encoder, so when one
    // code of this width is left it already reads the closing codes one bit
    // wider; at 16 bits that makes them 17 bits wide.
    if (e.next_code == e.max_code) {
        ++e.code_width;
    }
    write_code(w, END_CODE, e.code_width);
    for (int i = 0; i < 3; ++i) {
        write_code(w, 0, e.code_width);
    }
}

}  // namespace

extern "C" {

mornak_encoder* mornak_encoder_create(void) {
    void* tables = allocate_tables();
    if (tables == nullptr) {
        return nullptr;
    }
    auto* e = new_context<mornak_encoder>();
    if (e == nullptr) {
        free_tables(tables);
        return nullptr;
    }
    e->table = static_cast<StringTable*>(tables);
    return e;
}

void mornak_encoder_free(mornak_encoder* encoder) {
    if (encoder != nullptr) {
        free_tables(encoder->table);
        delete_context(encoder);
    }
}

mornak_status mornak_encoder_begin(mornak_encoder* encoder, std::int64_t input_size) {
    if (encoder == nullptr) {
        return MORNAK_ERROR_NULL;
    }
    EncoderStream& s = encoder->s;
    s = EncoderStream{};
    if (input_size < MORNAK_SIZE_UNKNOWN) {
        return s.life.fail(MORNAK_ERROR_ARGUMENT);
    }
    if (input_size > MORNAK_MAX_INPUT) {
        return s.life.fail(MORNAK_ERROR_TOO_LARGE);
    }
    s.size = input_size;
    fresh_dictionary(*encoder->table, s);
    const auto header = make_header(input_size == MORNAK_SIZE_UNKNOWN ? UNKNOWN_LENGTH_FIELD
                                                                       : static_cast<std::uint32_t>(input_size));
    std::memcpy(s.staging, header.data(), HEADER_BYTES);
    s.staged_to = HEADER_BYTES;
    s.written = HEADER_BYTES;
    s.life.phase = Phase::taking;
    return MORNAK_OK;
}

mornak_status mornak_encoder_set_progress(mornak_encoder* encoder, mornak_progress_fn callback, void* user) {
    if (encoder == nullptr) {
        return MORNAK_ERROR_NULL;
    }
    encoder->progress = {callback, user};
    return MORNAK_OK;
}

mornak_status mornak_encoder_run(mornak_encoder* encoder, mornak_in* in, mornak_out* out, int finish) {
    if (encoder == nullptr) {
        return MORNAK_ERROR_NULL;
    }
    EncoderStream& s = encoder->s;
    if (const mornak_status status = admit(s.life, in, check_buffers(in, out), finish); status != MORNAK_OK) {
        return status;
    }
    const std::uint64_t available = in->size - in->pos;
    if (s.closed && available != 0) {
        return s.life.fail(MORNAK_ERROR_ORDER);  // input after the stream was closed
    }
    if (s.size == MORNAK_SIZE_UNKNOWN) {
        if (available > static_cast<std::uint64_t>(MORNAK_MAX_INPUT) - s.taken) {
            return s.life.fail(MORNAK_ERROR_TOO_LARGE);
        }
    } else {
        const std::uint64_t left = static_cast<std::uint64_t>(s.size) - s.taken;
        if (available > left) {
            return s.life.fail(MORNAK_ERROR_INPUT_LONGER);
        }
        if (finish != 0 && available < left) {
            return s.life.fail(MORNAK_ERROR_INPUT_SHORTER);
        }
    }

    for (;;) {
        // Bytes staged earlier go out first, so the output stays in order.
        const std::size_t staged = std::min(s.staged_to - s.staged_from, out->size - out->pos);
        if (staged != 0) {
            std::memcpy(out->data + out->pos, s.staging + s.staged_from, staged);
            out->pos += staged;
            s.staged_from += staged;
        }
        if (s.staged_from != s.staged_to) {
            return MORNAK_MORE;
        }
        if (s.closed) {
            return s.life.conclude(MORNAK_OK);
        }
        if (in->pos == in->size && !s.life.finishing()) {
            return MORNAK_MORE;
        }
        // Straight into the output while it has room, else through staging.
        s.staged_from = s.staged_to = 0;
        const bool direct = out->size - out->pos >= DIRECT_ROOM;
        std::uint8_t* const start = direct ? out->data + out->pos : s.staging;
        CodeWriter w{s.out_bits, s.out_count, start};
        const std::uint8_t* const mark = (direct ? out->data + out->size : s.staging + STAGING_BYTES) - WRITE_MARGIN;
        Stop stop = Stop::input_used;
        if (in->pos != in->size) {
            const std::uint8_t* at = in->data + in->pos;
            // Progress is reported every PROGRESS_STEP input bytes.
            const std::uint8_t* const end = at + std::min<std::uint64_t>(in->size - in->pos, s.next_progress - s.taken);
            if (s.string_code < 0) {
                s.string_code = *at++;  // the first byte only starts a string
            }
            stop = encode_bytes(*encoder->table, s, at, end, w, mark);
            const auto used = static_cast<std::size_t>(at - (in->data + in->pos));
            in->pos += used;
            s.taken += used;
        } else {
            close_stream(s, w);
            s.closed = true;
        }
        s.out_bits = w.out_bits;
        s.out_count = w.out_count;
        const auto stored = static_cast<std::size_t>(w.position - start);
        s.written += stored;
        if (direct) {
            out->pos += stored;
        } else {
            s.staged_to = stored;
        }
        if (stop == Stop::clear) {
            report(encoder->progress, s);  // the final count of the dictionary being replaced
            fresh_dictionary(*encoder->table, s);
            ++s.dictionary;
        }
        if (s.taken == s.next_progress || s.closed) {
            report(encoder->progress, s);
            s.next_progress += PROGRESS_STEP;
        }
    }
}

mornak_status mornak_encoder_header(const mornak_encoder* encoder, unsigned char header[MORNAK_HEADER_BYTES]) {
    if (encoder == nullptr) {
        return MORNAK_ERROR_NULL;
    }
    const EncoderStream& s = encoder->s;
    if (s.life.phase == Phase::failed) {
        return s.life.error;
    }
    if (header == nullptr) {
        return MORNAK_ERROR_NULL;
    }
    // Without a size given, the length is known once the whole stream is out.
    if (s.life.phase == Phase::unready || (s.size == MORNAK_SIZE_UNKNOWN && s.life.phase != Phase::done)) {
        return MORNAK_ERROR_ORDER;
    }
    const auto length =
        static_cast<std::uint32_t>(s.size == MORNAK_SIZE_UNKNOWN ? static_cast<std::int64_t>(s.taken) : s.size);
    const auto bytes = make_header(length);
    std::memcpy(header, bytes.data(), HEADER_BYTES);
    return MORNAK_OK;
}

}  // extern "C"

namespace mornak {

void encoder_begin_at(mornak_encoder* encoder, std::uint8_t lead_byte, int lead_count) {
    mornak_encoder_begin(encoder, MORNAK_SIZE_UNKNOWN);
    EncoderStream& s = encoder->s;
    s.staged_to = 0;
    s.written = 0;
    s.out_count = lead_count;
    s.out_bits = lead_count == 0 ? 0 : std::uint64_t{lead_byte} >> (8 - lead_count) << (64 - lead_count);
}

void encoder_waiting(const mornak_encoder* encoder, std::uint64_t& bits, int& count) {
    bits = encoder->s.out_bits;
    count = encoder->s.out_count;
}

}  // namespace mornak
