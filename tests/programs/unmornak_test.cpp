// The real unmornak binary, driven as a user would: sound files restore and
// check, damaged ones are refused with what is wrong and where, and nothing
// is ever left half written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>

#include "damaged_files.hpp"
#include "lib/decoder_trace.hpp"
#include "run_mornak.hpp"
#include "support.hpp"

namespace fs = std::filesystem;

namespace {

const std::string USAGE =
    "Usage: unmornak FILE.bk [OUTPUT]\n       unmornak --test FILE.bk...\n       unmornak --list FILE.bk...\n"
    "       unmornak --help | --version\n";

using Codes = std::vector<std::pair<std::uint32_t, int>>;  // (code, width)

// A .bk file: header with `length`, then `stream`.
std::string bk_file(std::uint32_t length, const Bytes& stream) {
    const Bytes file = pack({{0x626F6F6B, 32}, {__builtin_bswap32(length), 32}}) + stream;
    return {file.begin(), file.end()};
}

// A .bk file: header with `length`, then `codes` as they are.
std::string bk_of(std::uint32_t length, const Codes& codes) { return bk_file(length, pack(codes)); }

// A .bk file: header with `length`, then `codes` and the closing codes, all at 11 bits.
std::string bk(std::uint32_t length, std::vector<std::uint32_t> codes, std::vector<std::uint32_t> closing = {257, 0, 0, 0}) {
    const Bytes file = bk_at_11(length, std::move(codes), closing);
    return {file.begin(), file.end()};
}

std::uint64_t bits_in(const Codes& codes) {
    std::uint64_t bits = 0;
    for (const auto& [code, width] : codes) {
        bits += static_cast<std::uint64_t>(width);
    }
    return bits;
}

const std::string ABC = bk(3, {97, 98, 99});

struct Case {
    std::string name;
    std::vector<Entry> setup;
    std::vector<std::string> args;
    int status;
    std::string err;                 // standard error
    std::vector<std::string> left;   // files in the folder afterwards
    std::vector<std::pair<std::string, std::string>> contents = {};  // and what some of them hold
    std::string out = {};            // standard output
    Options options = {};
    std::vector<std::string> kept = {};  // nodes that must stay what they were: same inode, same kind
    std::string fifo = {};           // what the reader of options.fifo_reader gets
    std::vector<std::pair<std::string, std::string>> links = {};  // links left and where they point
};

// What makes a node itself rather than something put in its place.
std::tuple<ino_t, mode_t, dev_t> identity(const fs::path& path) {
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return {info.st_ino, info.st_mode & S_IFMT, info.st_rdev};
}

// A large stream as mornak writes it, and every code in it: damage is
// planted deep inside, where the decoder runs its fast loop, which a stream
// of a few dozen bytes never reaches.
struct LargeBk {
    Bytes input;
    Bytes stream;  // after the header
    std::vector<TracedCode> codes;
    std::vector<std::uint64_t> before;  // bytes restored before each code
};

const LargeBk& large_bk() {
    static const LargeBk made = [] {
        LargeBk large;
        large.input = text_like(2 << 20, 41) + random_bytes(1 << 20, 43) + text_like(1 << 20, 47);
        Folder folder;
        folder.make({"large.txt", std::string(large.input.begin(), large.input.end())});
        run_mornak(folder.path, {"large.txt"});
        const Bytes file = folder.read("large.bk");
        large.stream.assign(file.begin() + std::min<long>(8, std::ssize(file)), file.end());
        large.codes = decode_stream(large.stream, large.input.size()).codes;
        std::uint64_t restored = 0;
        for (const TracedCode& c : large.codes) {
            large.before.push_back(restored);
            restored += c.length;
        }
        return large;
    }();
    return made;
}

std::uint64_t start_bit(const TracedCode& c) { return c.end_bit - static_cast<std::uint64_t>(c.width); }

// The file byte where a code starts.
std::string byte_of(const TracedCode& c) { return std::to_string(8 + start_bit(c) / 8); }

// Bits [from, to) of `stream`, as pieces for pack().
Codes bits_of(const Bytes& stream, std::uint64_t from, std::uint64_t to) {
    Codes pieces;
    while (from < to) {
        const int width = static_cast<int>(std::min<std::uint64_t>(16, to - from));
        std::uint32_t piece = 0;
        for (int i = 0; i < width; ++i, ++from) {
            piece = piece << 1 | ((std::uint32_t{stream[from / 8]} >> (7 - from % 8)) & 1u);
        }
        pieces.emplace_back(piece, width);
    }
    return pieces;
}

// The large .bk with the header's length `length` and its code `k` replaced
// by `with`, which takes whole bytes more or fewer than the code: the bytes
// around the code's are copied as they are.
std::string large_with(std::uint32_t length, std::size_t k, const Codes& with) {
    const LargeBk& large = large_bk();
    const TracedCode& code = large.codes.at(k);
    const std::uint64_t from = start_bit(code) / 8 * 8;
    const std::uint64_t to = (code.end_bit + 7) / 8 * 8;
    Codes middle = bits_of(large.stream, from, start_bit(code));
    middle.insert(middle.end(), with.begin(), with.end());
    const Codes after = bits_of(large.stream, code.end_bit, to);
    middle.insert(middle.end(), after.begin(), after.end());
    const auto at = [&](std::uint64_t bit) { return large.stream.begin() + static_cast<long>(bit / 8); };
    const Bytes stream = Bytes(large.stream.begin(), at(from)) + pack(middle) + Bytes(at(to), large.stream.end());
    return bk_file(length, stream);
}

// Damage deep inside the large stream, each as unmornak must report it.
std::vector<Case> large_cases() {
    const auto damaged = [](const std::string& what) { return "unmornak: d.bk: damaged: " + what + "\n"; };
    const LargeBk& large = large_bk();
    const auto& codes = large.codes;
    const std::string input(large.input.begin(), large.input.end());
    const auto length = static_cast<std::uint32_t>(input.size());
    const auto first = [&](auto&& is) {
        std::size_t k = 0;
        while (k < codes.size() && !is(k)) {
            ++k;
        }
        return k;
    };

    // The header claims fewer bytes than the stream holds: not one byte
    // past the claim is let out, though the decoder is deep in its fast
    // loop when it gets there.
    const std::uint32_t claim = 1000000;
    const std::size_t over = first([&](std::size_t k) { return large.before[k] + codes[k].length > claim; });
    const std::string claimed_output = input.substr(0, large.before.at(over));
    // And 100 bytes less than it holds: the code that runs past the claim
    // lies in the last dictionary, which threads restore.
    const std::uint32_t near_claim = length - 100;
    const std::size_t near_over =
        first([&](std::size_t k) { return large.before[k] + codes[k].length > near_claim; });

    // END_CODE in place of a code a quarter into the stream, the header
    // giving the bytes before it: after its three zero codes the writer
    // would have stopped.
    const std::size_t quarter = first([&](std::size_t k) { return start_bit(codes[k]) >= 2 * large.stream.size(); });
    const TracedCode& at_quarter = codes.at(quarter);
    const std::uint64_t stop = 8 + (at_quarter.end_bit + 3 * static_cast<std::uint64_t>(at_quarter.width)) / 8;
    const std::string ended =
        large_with(static_cast<std::uint32_t>(large.before[quarter]), quarter, {{257, at_quarter.width}});

    // Where the dictionary is three quarters full, neither the highest code
    // of the width nor CLEAR_CODE may come.
    const std::size_t filling = first([&](std::size_t k) { return codes[k].entries >= 3 * 65536 / 4; });
    const TracedCode& at_filling = codes.at(filling);
    const std::uint32_t highest = (1u << at_filling.width) - 1;

    // A string past the quarter written as literals: with the dictionary
    // full, they make no entries, so the file restores the same bytes, yet
    // it is not what mornak writes.
    const std::size_t string = first([&](std::size_t k) {
        return k > quarter && codes[k].length >= 2 && codes[k - 1].entries == 65536;
    });
    Codes literals;
    for (std::uint64_t i = 0; i < codes.at(string).length; ++i) {
        literals.emplace_back(large.input[large.before[string] + i], 16);
    }
    const std::string spelt_out = large_with(length, string, literals);
    const Bytes spelt_stream(spelt_out.begin() + 8, spelt_out.end());
    const auto differs = std::ranges::mismatch(spelt_stream, large.stream).in1 - spelt_stream.begin();

    // Cut a few bytes into its last dictionary: what went out before is
    // every code that ends before the cut.
    const std::string whole = bk_file(length, large.stream);
    std::uint64_t last_clear = 0;
    for (const TracedCode& c : codes) {
        last_clear = c.code == 256 ? c.end_bit : last_clear;
    }
    // Cut right after a CLEAR_CODE that ends on a byte, the header giving
    // all the bytes before it: the segment before ends where the file does,
    // and the stream is still cut.
    const std::size_t aligned = first([&](std::size_t k) { return codes[k].code == 256 && codes[k].end_bit % 8 == 0; });
    const std::string cut_at_clear =
        bk_file(static_cast<std::uint32_t>(large.before.at(aligned)),
                Bytes(large.stream.begin(), large.stream.begin() + static_cast<long>(codes.at(aligned).end_bit / 8)));
    const std::string cut = whole.substr(0, 8 + last_clear / 8 + 1000);
    const std::size_t after_cut = first([&](std::size_t k) { return codes[k].end_bit > 8 * (cut.size() - 8); });
    const std::size_t cut_restores = large.before.at(after_cut);

    return {
        {"header_claiming_less_than_a_large_stream_holds", {{"d.bk", bk_file(claim, large.stream)}}, {"d.bk", "-"},
         1,
         damaged("code " + std::to_string(codes[over].code) + ", found at byte " + byte_of(codes[over]) +
                 ", restores more than the 1000000 bytes the header gives") +
             "unmornak: standard output: " + std::to_string(large.before[over]) +
             " restored bytes were written before this and cannot be taken back\n",
         {"d.bk"}, {}, claimed_output},
        {"header_claiming_100_bytes_less_than_a_large_stream_holds",
         {{"d.bk", bk_file(near_claim, large.stream)}}, {"d.bk", "-"}, 1,
         damaged("code " + std::to_string(codes[near_over].code) + ", found at byte " + byte_of(codes[near_over]) +
                 ", restores more than the " + std::to_string(near_claim) + " bytes the header gives") +
             "unmornak: standard output: " + std::to_string(large.before[near_over]) +
             " restored bytes were written before this and cannot be taken back\n",
         {"d.bk"}, {}, input.substr(0, large.before.at(near_over))},
        {"end_code_a_quarter_into_a_large_stream", {{"d.bk", ended}}, {"d.bk"}, 1,
         damaged(std::to_string(ended.size() - stop) + " bytes after the end of the stream, which was found at byte " +
                 std::to_string(stop)),
         {"d.bk"}},
        {"code_deep_in_a_large_stream_names_no_entry_yet",
         {{"d.bk", large_with(length, filling, {{highest, at_filling.width}})}}, {"d.bk"}, 1,
         damaged("code " + std::to_string(highest) + ", found at byte " + byte_of(at_filling) + ", names no entry yet"),
         {"d.bk"}},
        {"clear_code_deep_in_a_large_stream", {{"d.bk", large_with(length, filling, {{256, at_filling.width}})}},
         {"d.bk"}, 1,
         damaged("CLEAR_CODE, found at byte " + byte_of(at_filling) + ", comes before the dictionary is full"),
         {"d.bk"}},
        {"string_spelt_out_as_literals_restores", {{"d.bk", spelt_out}}, {"d.bk"}, 0, "", {"d", "d.bk"},
         {{"d", input}}},
        {"large_stream_restores", {{"d.bk", bk_file(length, large.stream)}}, {"d.bk"}, 0, "", {"d", "d.bk"},
         {{"d", input}}},
        {"large_stream_checks", {{"d.bk", bk_file(length, large.stream)}}, {"--test", "d.bk"}, 0, "", {"d.bk"}, {},
         "d.bk: OK, " + std::to_string(length) + " bytes\n"},
        {"large_stream_cut_in_its_last_dictionary", {{"d.bk", cut}}, {"d.bk", "-"}, 1,
         damaged("the stream ends at byte " + std::to_string(cut.size()) + " before END_CODE") +
             "unmornak: standard output: " + std::to_string(cut_restores) +
             " restored bytes were written before this and cannot be taken back\n",
         {"d.bk"}, {}, input.substr(0, cut_restores)},
        {"large_stream_cut_right_after_a_clear_code", {{"d.bk", cut_at_clear}}, {"d.bk", "-"}, 1,
         damaged("the stream ends at byte " + std::to_string(cut_at_clear.size()) + " before END_CODE") +
             "unmornak: standard output: " + std::to_string(large.before.at(aligned)) +
             " restored bytes were written before this and cannot be taken back\n",
         {"d.bk"}, {}, input.substr(0, large.before.at(aligned))},
        {"header_claiming_more_than_a_large_stream_holds", {{"d.bk", bk_file(length + 1, large.stream)}},
         {"--test", "d.bk"}, 1,
         damaged("END_CODE found at byte " + byte_of(codes.back()) + " after " + std::to_string(length) +
                 " bytes, but the header gives " + std::to_string(length + 1)),
         {"d.bk"}},
        {"test_names_the_byte_of_a_difference_past_64_kib", {{"d.bk", spelt_out}}, {"--test", "d.bk"}, 1,
         damaged("restores whole, but differs from what mornak writes for those bytes; the first difference was "
                 "found at byte " + std::to_string(8 + differs)),
         {"d.bk"}},
    };
}

// Compares what may be megabytes without printing them whole.
template <typename Text>
void expect_same(const Text& got, const Text& want, const std::string& what) {
    if (got.size() <= 4096 && want.size() <= 4096) {
        EXPECT_EQ(got, want) << what;
        return;
    }
    const auto differs = std::ranges::mismatch(got, want).in1 - got.begin();
    EXPECT_TRUE(got == want) << what << ": " << got.size() << " bytes where " << want.size()
                             << " were expected; the first difference at " << differs;
}

std::vector<Case> cases() {
    const auto damaged = [](const std::string& what) { return "unmornak: d.bk: damaged: " + what + "\n"; };
    std::string flipped = ABC;
    flipped[8] = static_cast<char>(flipped[8] | 0x80);  // the first code becomes 1024 + 97
    // 65277 literals leave the dictionary one entry short of full at 16 bits;
    // were the CLEAR_CODE taken there, the END_CODE after it would close a
    // sound stream.
    const Bytes pairs = distinct_pairs();
    Codes one_short = literal_codes(Bytes(pairs.begin(), pairs.begin() + 65277));
    const std::uint64_t clear_at = 8 + bits_in(one_short) / 8;
    one_short.insert(one_short.end(), {{256, 16}, {257, 11}, {0, 11}, {0, 11}, {0, 11}});
    const auto gone = [](const std::string& output, int bytes) {
        return "unmornak: " + output + ": " + std::to_string(bytes) +
               " restored bytes were written before this and cannot be taken back\n";
    };
    const Entry null_device = {"NUL", "", Kind::device, 0, 0, makedev(1, 3)};
    const Entry full_device = {"FULL", "", Kind::device, 0, 0, makedev(1, 7)};
    std::vector<Case> rows = {
        // Sound files.
        {"restores_beside_the_file", {{"a.bk", ABC}}, {"a.bk"}, 0, "", {"a", "a.bk"}, {{"a", "abc"}}},
        {"restores_into_a_named_output_replacing_it", {{"a.bk", ABC}, {"out", "old"}}, {"a.bk", "out"}, 0, "",
         {"a.bk", "out"}, {{"out", "abc"}}},
        {"dash_writes_standard_output", {{"a.bk", ABC}}, {"a.bk", "-"}, 0, "", {"a.bk"}, {}, "abc"},
        {"link_at_the_output_is_replaced_not_followed", {{"a.bk", ABC}, {"far", "keep"}, {"out", "far", Kind::link}},
         {"a.bk", "out"}, 0, "", {"a.bk", "far", "out"}, {{"out", "abc"}, {"far", "keep"}}},
        {"test_reports_each_good_file", {{"a.bk", ABC}, {"b.bk", bk(0, {})}}, {"--test", "a.bk", "b.bk"}, 0, "",
         {"a.bk", "b.bk"}, {}, "a.bk: OK, 3 bytes\nb.bk: OK, 0 bytes\n"},
        {"private_bk_gives_a_private_file", {{"p.bk", ABC, Kind::file, 0, 0600}}, {"p.bk"}, 0, "", {"p", "p.bk"}},
        // The temporary file is made in the output's own folder: here the
        // only one that may be written.
        {"temporary_file_is_made_in_the_outputs_folder",
         {{"a.bk", ABC}, {"locked/open", "", Kind::folder}, {"locked", "", Kind::folder, 0, 0555}},
         {"a.bk", "locked/open/a"}, 0, "", {"a.bk", "locked/", "locked/open/", "locked/open/a"},
         {{"locked/open/a", "abc"}}, "", {.as_any_user = true}},
        // The command line.
        {"existing_default_output_is_kept", {{"a.bk", ABC}, {"a", "old"}}, {"a.bk"}, 1,
         "unmornak: a.bk: a already exists; name an OUTPUT to replace it\n", {"a", "a.bk"}, {{"a", "old"}}},
        // A link counts as existing whether or not what it names does.
        {"dangling_link_at_the_default_output_is_kept", {{"a.bk", ABC}, {"a", "nowhere", Kind::link}}, {"a.bk"}, 1,
         "unmornak: a.bk: a already exists; name an OUTPUT to replace it\n", {"a", "a.bk"}, {}, "", {}, {}, "",
         {{"a", "nowhere"}}},
        // A folder is refused before anything is restored, "." too.
        {"folder_as_output", {{"a.bk", ABC}, {"out", "", Kind::folder}}, {"a.bk", "out"}, 1,
         "unmornak: out: Is a directory\n", {"a.bk", "out/"}},
        {"dot_as_output", {{"a.bk", ABC}}, {"a.bk", "."}, 1, "unmornak: .: Is a directory\n", {"a.bk"}},
        // Standard output opened on the .bk file itself.
        {"standard_output_on_the_bk_file_is_refused", {{"a.bk", ABC}}, {"a.bk", "-"}, 1,
         "unmornak: a.bk: standard output is the .bk file itself\n", {"a.bk"}, {}, "", {.stdout_file = "a.bk"}},
        // The .bk file is never the output, by its own name or another.
        {"output_that_is_the_bk_file_is_refused", {{"a.bk", ABC}}, {"a.bk", "a.bk"}, 1,
         "unmornak: a.bk: a.bk is the .bk file itself; name another OUTPUT\n", {"a.bk"}},
        {"output_linked_to_the_bk_file_is_refused", {{"a.bk", ABC}, {"out", "a.bk", Kind::hard_link}},
         {"a.bk", "out"}, 1, "unmornak: a.bk: out is the .bk file itself; name another OUTPUT\n", {"a.bk", "out"}},
        // The default name is always a file, even one called "-".
        {"default_name_dash_is_a_file", {{"-.bk", ABC}}, {"--", "-.bk"}, 0, "", {"-", "-.bk"}, {{"-", "abc"}}},
        {"damaged_file_with_the_default_name_dash", {{"-.bk", ABC + "x"}}, {"--", "-.bk"}, 1,
         "unmornak: -.bk: damaged: 1 bytes after the end of the stream, which was found at byte 17\n", {"-.bk"}},
        {"name_without_bk_needs_an_output", {{"a.dat", ABC}}, {"a.dat"}, 2,
         "unmornak: a name that does not end in .bk, or is only .bk, needs an OUTPUT\n" + USAGE, {"a.dat"}},
        // The name is the last path component: one that is just ".bk" leaves none.
        {"name_that_is_just_bk_needs_an_output", {{"sub/.bk", ABC}}, {"sub/.bk"}, 2,
         "unmornak: a name that does not end in .bk, or is only .bk, needs an OUTPUT\n" + USAGE, {"sub/", "sub/.bk"}},
        {"folder_named_bk_is_kept_in_the_default_name", {{"x.bk/a.bk", ABC}}, {"x.bk/a.bk"}, 0, "",
         {"x.bk/", "x.bk/a", "x.bk/a.bk"}, {{"x.bk/a", "abc"}}},
        {"no_argument", {}, {}, 2, "unmornak: no file named\n" + USAGE, {}},
        {"version", {}, {"--version"}, 0, "", {}, {},
         "unmornak " + header_version() + ", libmornak " + header_version() + "\n"},
        {"unknown_option", {}, {"--fast", "a.bk"}, 2, "unmornak: unknown option --fast\n" + USAGE, {}},
        {"threads_without_a_number", {}, {"a.bk", "-T"}, 2, "unmornak: -T needs a number of threads\n" + USAGE, {}},
        {"threads_as_a_word", {}, {"--threads=many", "a.bk"}, 2, "unmornak: not a number of threads: many\n" + USAGE,
         {}},
        {"more_threads_than_allowed", {}, {"-T4097", "a.bk"}, 2, "unmornak: not a number of threads: 4097\n" + USAGE,
         {}},
        {"test_and_list_together", {}, {"-t", "-l", "a.bk"}, 2, "unmornak: --test and --list go alone\n" + USAGE, {}},
        {"list_gives_sizes_ratio_and_dictionaries", {{"a.bk", ABC}, {"b.bk", bk(0, {}, {2047, 257, 0, 0, 0})}},
         {"--list", "a.bk", "b.bk"}, 0, "", {"a.bk", "b.bk"}, {},
         "     .bk bytes  content bytes   ratio dictionaries  name\n"
         "            17              3   5.667            1  a.bk\n"
         "            14              0       -            1  b.bk\n"
         "            31              3  10.333            2  (totals)\n"},
        {"list_reports_damage_as_restoring_does", {{"d.bk", flipped}, {"a.bk", ABC}}, {"-l", "d.bk", "a.bk"}, 1,
         damaged("code 1121, found at byte 8, names no entry yet"), {"a.bk", "d.bk"}, {},
         "     .bk bytes  content bytes   ratio dictionaries  name\n"
         "            17              3   5.667            1  a.bk\n"
         "            17              3   5.667            1  (totals)\n"},
        {"three_names", {}, {"a.bk", "b", "c"}, 2,
         "unmornak: too many files: restore takes FILE.bk and at most one OUTPUT\n" + USAGE, {}},
        {"missing_file", {}, {"nope.bk", "out"}, 1, "unmornak: nope.bk: No such file or directory\n", {}},
        {"folder_as_input", {{"d.bk", "", Kind::folder}}, {"d.bk", "out"}, 1, "unmornak: d.bk: Is a directory\n", {"d.bk/"}},
        {"fifo_is_refused_without_blocking", {{"f.bk", "", Kind::fifo}}, {"f.bk", "out"}, 1,
         "unmornak: f.bk: not a regular file\n", {"f.bk"}},
        {"closed_pipe_on_standard_output", {{"a.bk", ABC}}, {"a.bk", "-"}, 1,
         "unmornak: standard output: Broken pipe\n", {"a.bk"}, {}, "", {.stdout_closed = true}},
        // A named OUTPUT that is not a regular file once links are followed is
        // written into, as the shell's ">" does: the node and any link to it stay.
        {"null_device_is_written_into_and_stays", {{"a.bk", ABC}, null_device}, {"a.bk", "NUL"}, 0, "",
         {"NUL", "a.bk"}, {}, "", {}, {"NUL"}},
        {"full_device_fails_like_standard_output", {{"a.bk", ABC}, full_device}, {"a.bk", "FULL"}, 1,
         "unmornak: FULL: No space left on device\n", {"FULL", "a.bk"}, {}, "", {}, {"FULL"}},
        {"link_to_a_device_is_written_through", {{"a.bk", ABC}, null_device, {"out", "NUL", Kind::link}},
         {"a.bk", "out"}, 0, "", {"NUL", "a.bk", "out"}, {}, "", {}, {"NUL", "out"}},
        {"fifo_with_a_reader_gets_the_bytes", {{"a.bk", ABC}, {"pipe", "", Kind::fifo}}, {"a.bk", "pipe"}, 0, "",
         {"a.bk", "pipe"}, {}, "", {.fifo_reader = "pipe"}, {"pipe"}, "abc"},
        {"link_to_standard_output_on_a_pipe", {{"a.bk", ABC}, {"out", "/proc/self/fd/1", Kind::link}},
         {"a.bk", "out"}, 0, "", {"a.bk", "out"}, {}, "abc", {}, {"out"}},
        // Into a regular file, the descriptor is written as it stands: appended to here.
        {"link_to_standard_output_on_a_file", {{"a.bk", ABC}, {"log", "first\n"}, {"out", "/proc/self/fd/1", Kind::link}},
         {"a.bk", "out"}, 0, "", {"a.bk", "log", "out"}, {{"log", "first\nabc"}}, "", {.stdout_file = "log"},
         {"log", "out"}},
        {"socket_is_refused_as_the_shell_refuses_it", {{"a.bk", ABC}, {"sock", "", Kind::socket}}, {"a.bk", "sock"},
         1, "unmornak: sock: No such device or address\n", {"a.bk", "sock"}, {}, "", {}, {"sock"}},
        // Bytes that went out before the damage showed cannot be taken back: said so.
        {"damage_found_after_bytes_went_to_standard_output", {{"d.bk", bk(5, {97, 98, 99})}}, {"d.bk", "-"}, 1,
         damaged("END_CODE found at byte 12 after 3 bytes, but the header gives 5") + gone("standard output", 3),
         {"d.bk"}, {}, "abc"},
        {"damage_found_after_bytes_went_into_a_fifo", {{"d.bk", bk(5, {97, 98, 99})}, {"pipe", "", Kind::fifo}},
         {"d.bk", "pipe"}, 1,
         damaged("END_CODE found at byte 12 after 3 bytes, but the header gives 5") + gone("pipe", 3),
         {"d.bk", "pipe"}, {}, "", {.fifo_reader = "pipe"}, {"pipe"}, "abc"},
        {"damage_found_before_any_byte_went_out", {{"d.bk", flipped}, null_device}, {"d.bk", "NUL"}, 1,
         damaged("code 1121, found at byte 8, names no entry yet"), {"NUL", "d.bk"}, {}, "", {}, {"NUL"}},
        {"clear_code_one_entry_before_the_dictionary_is_full", {{"d.bk", bk_of(65277, one_short)}}, {"d.bk"}, 1,
         damaged("CLEAR_CODE, found at byte " + std::to_string(clear_at) + ", comes before the dictionary is full"),
         {"d.bk"}},
        {"test_goes_on_after_a_bad_file", {{"d.bk", ABC + "x"}, {"a.bk", ABC}}, {"--test", "d.bk", "a.bk"}, 1,
         damaged("1 bytes after the end of the stream, which was found at byte 17"), {"a.bk", "d.bk"}, {},
         "a.bk: OK, 3 bytes\n"},
    };
#ifndef __SANITIZE_ADDRESS__  // the sanitizer runtime must come first; LD_PRELOAD cannot
    // The default name is never replaced, even by a file that appears while
    // the restored one is made: the fault library makes it at the last moment.
    const std::string preload = "LD_PRELOAD=" FAULT_LIBRARY;
    const std::string appeared = "appeared while the result was being made\n";
    const std::string kept_message = "unmornak: a.bk: a already exists; name an OUTPUT to replace it\n";
    rows.push_back({"file_appearing_at_the_default_name_is_kept", {{"a.bk", ABC}}, {"a.bk"}, 1, kept_message,
                    {"a", "a.bk"}, {{"a", appeared}}, "", {.environment = {preload, "MORNAK_FAULT=renameat2 1 create"}}});
    // A regular file that takes a device's name just before it is opened is
    // replaced whole like any other, not written over in place.
    rows.push_back({"regular_file_in_place_of_the_device_at_the_open_is_replaced_whole", {{"a.bk", ABC}, null_device},
                    {"a.bk", "NUL"}, 0, "", {"NUL", "a.bk"}, {{"NUL", "abc"}}, "",
                    {.environment = {preload, "MORNAK_FAULT=open 2 create"}}});
    // Where the file system cannot rename without replacing, a hard link does the same.
    for (const char* unsupported : {"22", "38", "95"}) {  // EINVAL, ENOSYS, EOPNOTSUPP
        const std::string without = std::string("MORNAK_FAULT=renameat2 0 ") + unsupported;
        rows.push_back({"without_renameat2_a_link_restores_" + std::string(unsupported), {{"a.bk", ABC}}, {"a.bk"}, 0,
                        "", {"a", "a.bk"}, {{"a", "abc"}}, "", {.environment = {preload, without}}});
        rows.push_back({"without_renameat2_an_appearing_file_is_kept_" + std::string(unsupported), {{"a.bk", ABC}},
                        {"a.bk"}, 1, kept_message, {"a", "a.bk"}, {{"a", appeared}}, "",
                        {.environment = {preload, without + "; link 1 create"}}});
    }
#endif
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // a sanitizer needs more address space
    // The header's length is never trusted for memory.
    rows.push_back({"two_gib_claim_fails_at_once_in_little_memory", {{"d.bk", bk(0x7FFFFFFF, {97, 98, 99})}},
                    {"d.bk"}, 1, damaged("END_CODE found at byte 12 after 3 bytes, but the header gives 2147483647"),
                    {"d.bk"}, {}, "", {.memory_limit = rlim_t{16} << 20}});
#endif
    // The shared table of damaged files: restored, and checked.
    for (const DamagedFile& d : damaged_files()) {
        const std::string file(d.file.begin(), d.file.end());
        const bool restores = d.restoring.status == MORNAK_OK;
        const bool passes = restores && d.checking == MORNAK_OK;
        const std::string said = "unmornak: d.bk: " + d.words + "\n";
        // What a sound file restores to: the library's bytes.
        std::string restored(d.restoring.restored, '\0');
        std::size_t got = 0;
        mornak_decompress(d.file.data(), d.file.size(), restored.data(), restored.size(), &got);
        rows.push_back({"restoring_" + d.name, {{"d.bk", file}}, {"d.bk"}, restores ? 0 : 1, restores ? "" : said,
                        restores ? std::vector<std::string>{"d", "d.bk"} : std::vector<std::string>{"d.bk"},
                        restores ? std::vector<std::pair<std::string, std::string>>{{"d", restored}}
                                 : std::vector<std::pair<std::string, std::string>>{}});
        rows.push_back({"checking_" + d.name, {{"d.bk", file}}, {"--test", "d.bk"}, passes ? 0 : 1, passes ? "" : said,
                        {"d.bk"}, {},
                        passes ? "d.bk: OK, " + std::to_string(d.restoring.restored) + " bytes\n" : ""});
    }
    std::ranges::move(large_cases(), std::back_inserter(rows));
    return rows;
}

TEST(Unmornak, ArgumentsMessagesExitStatusAndFilesLeft) {
    // Every row again on three threads (those that count system calls
    // aside): the same output, words, status and files.
    std::vector<Case> rows = cases();
    for (std::size_t i = 0, n = rows.size(); i < n; ++i) {
        if (rows[i].options.environment.empty()) {
            Case threaded = rows[i];
            threaded.name += "_on_three_threads";
            threaded.args.insert(threaded.args.begin(), "-T3");
            rows.push_back(std::move(threaded));
        }
    }
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Folder folder;
        try {
            for (const auto& entry : row.setup) {
                folder.make(entry);
            }
        } catch (const CannotMakeNode& e) {
            std::printf("[  SKIPPED ] %s: cannot make device nodes here (%s)\n", row.name.c_str(), e.what());
            continue;
        }
        std::map<std::string, std::tuple<ino_t, mode_t, dev_t>> before;
        for (const auto& name : row.kept) {
            before[name] = identity(folder.path / name);
        }
        const Outcome outcome = run_unmornak(folder.path, row.args, row.options);
        expect_same(outcome.out, row.out, "standard output");
        EXPECT_EQ(outcome.err, row.err);
        EXPECT_EQ(outcome.status, row.status);
        EXPECT_EQ(outcome.fifo, row.fifo);
        EXPECT_EQ(folder.listing(), row.left);
        for (const auto& [name, text] : row.contents) {
            expect_same(folder.read(name), bytes_of(text), name);
        }
        for (const auto& [name, to] : row.links) {
            const bool link = fs::is_symlink(fs::symlink_status(folder.path / name));
            EXPECT_TRUE(link) << name;
            if (link) {
                EXPECT_EQ(fs::read_symlink(folder.path / name), to) << name;
            }
        }
        for (const auto& [name, was] : before) {
            EXPECT_EQ(identity(folder.path / name), was) << name << " is not the node it was";
        }
        for (const auto& entry : row.setup) {  // .bk files are never touched
            if (entry.kind == Kind::file && entry.path.ends_with(".bk")) {
                expect_same(folder.read(entry.path), bytes_of(entry.content), entry.path);
            }
        }
    }
}

TEST(Unmornak, RestoresWhatMornakWroteWithItsMode) {
    // Text, noise that restarts the dictionary, and a long run, in one file.
    const Bytes input = text_like(300000, 21) + random_bytes(300000, 22) + Bytes(200000, 'z');
    Folder folder;
    folder.make({"in.txt", std::string(input.begin(), input.end()), Kind::file, 0, 0640});
    ASSERT_EQ(run_mornak(folder.path, {"in.txt"}).status, 0);
    const Outcome restored = run_unmornak(folder.path, {"in.bk", "back.txt"});
    EXPECT_EQ(restored.status, 0) << restored.err;
    EXPECT_TRUE(folder.read("back.txt") == input);
    EXPECT_EQ(fs::status(folder.path / "back.txt").permissions(), fs::perms(0640));
    EXPECT_EQ(run_unmornak(folder.path, {"--test", "in.bk"}).out, "in.bk: OK, 800000 bytes\n");
}

}  // namespace
