#include "lzw/encoder.hpp"

#include <algorithm>
#include <cerrno>

#include "lzw/string_table.hpp"

namespace lzw {

std::uint32_t max_code = (1u << INITIAL_CODE_BITS) - 1;
int read_error = 0;

namespace {

constexpr std::uint32_t PROGRESS_STEP = 10000;   // input bytes per progress dot
constexpr std::uint32_t RATIO_CHECK_GAP = 100;   // input bytes between ratio checks
constexpr std::int32_t START_RATIO_MARK = 100;   // percent
constexpr std::size_t READ_BLOCK = 64 * 1024;    // bytes

std::uint32_t next_code = FIRST_FREE_CODE;  // number of the next dictionary entry
std::int32_t ratio_mark = START_RATIO_MARK;  // percent at the last ratio check
std::uint32_t next_check = RATIO_CHECK_GAP;  // a full dictionary is checked once bytes_in passes this
std::uint32_t bytes_in = 0;  // bytes consumed after the first one, since the start or the last CLEAR_CODE
std::uint64_t bytes_to_read = 0;  // the input limit plus the one byte that tells it was passed

std::uint8_t input_block[READ_BLOCK];

void fresh_dictionary() {
    clear_table();
    code_width = INITIAL_CODE_BITS;
    max_code = (1u << INITIAL_CODE_BITS) - 1;
    next_code = FIRST_FREE_CODE;
    ratio_mark = START_RATIO_MARK;
}

// Fills input_block; 0 at the end of the input, after a failed read or drain,
// or past the input limit.
std::size_t read_block(std::FILE* input) {
    if (std::ferror(input) || std::feof(input) || writer_failed() || bytes_to_read == 0) {
        return 0;
    }
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(READ_BLOCK, bytes_to_read));
    const std::size_t got = std::fread(input_block, 1, wanted, input);
    bytes_to_read -= got;
    if (got < wanted && std::ferror(input)) {
        read_error = errno;
    }
    return got;
}

void count_input_byte() {
    if (++bytes_in % PROGRESS_STEP == 0) {
        std::fputc('.', stdout);
        std::fflush(stdout);
    }
}

// Called after every code the encoding loop writes once the dictionary is full
// at 16 bits: records the ratio while it holds or improves, and starts a
// fresh dictionary as soon as it got worse.
void check_ratio() {
    if (bytes_in <= next_check) {
        return;
    }
    // Unsigned 32-bit on purpose: the stream layout depends on exactly this
    // arithmetic, wrap-around of bytes_out * 100 included.
    const std::uint32_t ratio = bytes_out * 100 / bytes_in;
    if (static_cast<std::int32_t>(ratio) > ratio_mark) {
        write_code(CLEAR_CODE);
        fresh_dictionary();
        bytes_out = 0;
        bytes_in = 0;
    } else {
        ratio_mark = static_cast<std::int32_t>(ratio);
    }
    next_check = bytes_in + RATIO_CHECK_GAP;
}

}  // namespace

void start_engine(std::uint8_t* area, std::size_t capacity, Drain drain, std::uint64_t input_limit) {
    code_width = INITIAL_CODE_BITS;
    max_code = (1u << INITIAL_CODE_BITS) - 1;
    next_check = RATIO_CHECK_GAP;
    bytes_in = 0;
    read_error = 0;
    bytes_to_read = input_limit + 1;
    start_writer(area, capacity, drain);
    start_reader();
}

void compress_file(std::FILE* input) {
    fresh_dictionary();
    std::fputs("Compressing\n", stdout);

    std::size_t got = read_block(input);
    if (got != 0) {
        std::int32_t string_code = input_block[0];  // code of the string matched so far
        std::size_t at = 1;
        for (;;) {
            if (at == got) {
                got = read_block(input);
                at = 0;
                if (got == 0) {
                    break;
                }
            }
            const std::uint8_t c = input_block[at++];
            count_input_byte();
            if (next_code <= max_code) {
                const std::int32_t slot = find_slot(string_code, c);
                if (tag[slot] != EMPTY_TAG) {  // the walk just read it; the slot may be far
                    string_code = table[slot].code;
                    continue;
                }
                add_entry(slot, static_cast<std::int32_t>(next_code), string_code, c);
                ++next_code;
            } else {  // full at 16 bits: no entries are made, so no empty slot is needed
                const std::int32_t found = find_code(string_code, c);
                if (found != EMPTY_SLOT) {
                    string_code = found;
                    continue;
                }
            }
            write_code(static_cast<std::uint32_t>(string_code));
            string_code = c;
            if (next_code <= max_code) {
                continue;
            }
            if (code_width < MAX_CODE_BITS) {
                ++code_width;
                max_code = (1u << code_width) - 1;
                continue;
            }
            check_ratio();
        }
        write_code(static_cast<std::uint32_t>(string_code));
    }
    // A reader adds its entries one code later than the encoder, so when one
    // code of this width is left it already reads the closing codes one bit
    // wider; at 16 bits that makes them 17 bits wide.
    if (next_code == max_code) {
        ++code_width;
    }
    write_code(END_CODE);
    // Filler that pushes the last real bits out of the accumulator.
    for (int i = 0; i < 3; ++i) {
        write_code(0);
    }
    flush_writer();
    std::fputc('\n', stdout);
}

}  // namespace lzw
