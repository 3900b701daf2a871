#include "lzw/encoder.hpp"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "lzw/string_table.hpp"

namespace lzw {

std::uint32_t max_code = (1u << INITIAL_CODE_BITS) - 1;
int read_error = 0;
std::FILE* progress_output = stdout;

namespace {

constexpr std::uint32_t PROGRESS_STEP = 10000;   // input bytes per progress dot
constexpr std::uint32_t RATIO_CHECK_GAP = 100;   // input bytes between ratio checks
constexpr std::int32_t START_RATIO_MARK = 100;   // percent
constexpr std::size_t READ_BLOCK = 64 * 1024;    // bytes

std::uint32_t next_code = FIRST_FREE_CODE;  // number of the next dictionary entry
std::int32_t ratio_mark = START_RATIO_MARK;  // percent at the last ratio check
std::uint32_t next_check = RATIO_CHECK_GAP;  // a full dictionary is checked once bytes_in passes this
// Bytes consumed after the first one, since the start or the last CLEAR_CODE.
// The encoding loop does not count byte by byte: it derives this from its
// place in the input block, and stores it here before each ratio check.
std::uint32_t bytes_in = 0;
std::uint32_t dots_shown = 0;  // dots printed for the current dictionary
std::uint64_t bytes_to_read = 0;  // the input limit plus the one byte that tells it was passed

std::uint8_t input_block[READ_BLOCK];

constexpr std::chrono::milliseconds DOT_FLUSH_GAP{100};
bool dots_on_terminal = false;
std::chrono::steady_clock::time_point last_dot_flush;

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

// Dots go out with the rest of standard output, except on a terminal, where
// someone watches them: there at most every DOT_FLUSH_GAP.
void show_dot() {
    if (progress_output == nullptr) {
        return;
    }
    std::fputc('.', progress_output);
    if (dots_on_terminal) {
        const auto now = std::chrono::steady_clock::now();
        if (now - last_dot_flush >= DOT_FLUSH_GAP) {
            std::fflush(progress_output);
            last_dot_flush = now;
        }
    }
}

// Prints the dots the current dictionary owes: one per PROGRESS_STEP of
// bytes_in. Called at every input block, before a fresh dictionary and at
// the end, so they appear at most one block late and always in full.
void show_dots(std::uint32_t consumed) {
    for (; dots_shown < consumed / PROGRESS_STEP; ++dots_shown) {
        show_dot();
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
        show_dots(bytes_in);
        dots_shown = 0;
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
    dots_shown = 0;
    read_error = 0;
    bytes_to_read = input_limit + 1;
    dots_on_terminal = progress_output != nullptr && ::isatty(::fileno(progress_output)) == 1;
    last_dot_flush = {};
    start_writer(area, capacity, drain);
    start_reader();
}

void compress_file(std::FILE* input) {
    fresh_dictionary();
    if (progress_output != nullptr) {
        std::fputs("Compressing\n", progress_output);
    }

    std::size_t got = read_block(input);
    if (got != 0) {
        std::int32_t string_code = input_block[0];  // code of the string matched so far
        const std::uint8_t* at = input_block + 1;
        const std::uint8_t* end = input_block + got;
        // bytes_in == (at - input_block) + base once the byte before `at` is taken.
        std::ptrdiff_t base = -1;
        for (;;) {
            if (at == end) {
                const auto consumed = static_cast<std::uint32_t>((end - input_block) + base);
                show_dots(consumed);
                got = read_block(input);
                if (got == 0) {
                    break;
                }
                at = input_block;
                end = input_block + got;
                base = consumed;
            }
            const std::uint8_t c = *at++;
            const std::uint32_t slot = find_slot(string_code, c);
            if (keys[slot] != EMPTY_KEY) {
                string_code = codes[slot];
                continue;
            }
            if (next_code <= max_code) {  // when full at 16 bits no entry is made
                add_entry(slot, static_cast<std::int32_t>(next_code), string_code, c);
                ++next_code;
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
            bytes_in = static_cast<std::uint32_t>((at - input_block) + base);
            check_ratio();
            base = static_cast<std::ptrdiff_t>(bytes_in) - (at - input_block);
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
    if (progress_output != nullptr) {
        std::fputc('\n', progress_output);
    }
}

}  // namespace lzw
