// The real mornak binary, driven as a user would: arguments in, console text,
// exit status and the files left in its folder out.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "lib/decoder_trace.hpp"
#include "lib/round_trip_rows.hpp"
#include "run_mornak.hpp"
#include "support.hpp"

namespace fs = std::filesystem;

namespace {

const std::string BANNER = "Ostrivel ver. 1.2 by Vuldrim\nUsage: mornak <filename>\n";
const std::string HELP =
    "\n"
    "Converts <filename> into a .bk file beside it (story.txt gives story.bk),\n"
    "replacing a file of that name once the new one is complete.\n"
    "unmornak restores it. To convert a file named --help, write ./--help.\n"
    "\n"
    "Exit status: 0 converted, 1 failed, 2 wrong usage.\n";
const std::string ABC_REPORT = "Compressing\n\nIn : 3 bytes\nOut: 17 bytes\nOut/In: 5.667\n";
const Bytes ABC_BK = {0x62, 0x6F, 0x6F, 0x6B, 0x03, 0x00, 0x00, 0x00, 0x0C,
                      0x21, 0x88, 0x31, 0x90, 0x10, 0x00, 0x00, 0x00};
const Bytes EMPTY_BK = {0x62, 0x6F, 0x6F, 0x6B, 0, 0, 0, 0, 0x20, 0x20, 0x00, 0x00, 0x00};

struct CommandLineCase {
    std::string name;
    std::vector<Entry> setup;
    std::vector<std::string> args;
    std::string out;
    int status;
    std::vector<std::string> left;
    std::vector<std::pair<std::string, Bytes>> contents = {};  // files left and their bytes
    Options options = {};
    std::string err = {};
    mode_t bk_mode = 0644;  // of every .bk left after a success
};

// The dots mornak prints for `input`: one per 10,000 bytes of each
// dictionary, not counting the byte that began it, as the stream shows them.
std::size_t dots_for(const Bytes& input) {
    std::size_t dots = 0;
    const std::string error = check_ratio_rule(decode_stream(encode(input)), dots);
    if (!error.empty()) {
        throw std::runtime_error(error);
    }
    return dots;
}

// What mornak prints for a conversion of `input`, with `dots` dots.
std::string report_for(const Bytes& input, std::size_t dots) {
    const std::size_t out = compress(input).size();
    char ratio[32] = "n/a (empty input)";
    if (!input.empty()) {
        std::snprintf(ratio, sizeof ratio, "%.3f", static_cast<double>(out) / static_cast<double>(input.size()));
    }
    return "Compressing\n" + std::string(dots, '.') + "\nIn : " + std::to_string(input.size()) + " bytes\nOut: " +
           std::to_string(out) + " bytes\nOut/In: " + ratio + "\n";
}

std::vector<CommandLineCase> cases() {
    const std::string too_large =
        "Can't convert file big.txt: 2147483648 bytes is more than the 2147483647 a .bk file can hold\n";
    const auto itself = [](const std::string& input, const std::string& target) {
        return "Can't convert file " + input + ": its .bk name " + target + " is the file itself\n";
    };
    const Bytes random = random_bytes(40000, 9);
    const std::string noise(random.begin(), random.end());
    std::vector<CommandLineCase> rows = {
        {"no_argument", {}, {}, BANNER, 2, {}},
        {"two_arguments", {{"a.txt", "abc"}}, {"a.txt", "b.txt"}, BANNER, 2, {"a.txt"}},
        {"help", {}, {"--help"}, BANNER + HELP, 0, {}},
        {"version", {}, {"--version"},
         "Ostrivel ver. 1.2 by Vuldrim\nmornak " + header_version() + ", libmornak " + header_version() + "\n", 0, {}},
        {"help_among_other_arguments_is_the_banner", {{"--help", "abc"}}, {"--help", "x"}, BANNER, 2, {"--help"}},
        {"a_file_named_help_converts_as_dot_slash", {{"--help", "abc"}}, {"./--help"}, ABC_REPORT, 0,
         {"--help", "--help.bk"}, {{"--help.bk", ABC_BK}}},
        {"a_file_named_version_converts_as_dot_slash", {{"--version", "abc"}}, {"./--version"}, ABC_REPORT, 0,
         {"--version", "--version.bk"}, {{"--version.bk", ABC_BK}}},
        {"help_on_unwritable_standard_output_fails", {}, {"--help"}, "", 1, {}, {}, {.stdout_full = true},
         "mornak: can't write to standard output: No space left on device\n"},
        {"missing_file_creates_nothing", {}, {"nope.txt"}, "Can't open file nope.txt\n", 1, {}},
        {"abc", {{"abc.txt", "abc"}}, {"abc.txt"}, ABC_REPORT, 0, {"abc.bk", "abc.txt"}, {{"abc.bk", ABC_BK}}},
        // A dot per 10,000 bytes, counted from the byte after the first.
        {"dot_per_ten_thousand_bytes_after_the_first", {{"z", std::string(10001, '\0')}}, {"z"},
         report_for(Bytes(10001, 0), 1), 0, {"z", "z.bk"}},
        {"no_dot_one_byte_short", {{"z", std::string(10000, '\0')}}, {"z"}, report_for(Bytes(10000, 0), 0), 0,
         {"z", "z.bk"}},
        {"empty_input",
         {{"e.txt", ""}},
         {"e.txt"},
         "Compressing\n\nIn : 0 bytes\nOut: 13 bytes\nOut/In: n/a (empty input)\n",
         0,
         {"e.bk", "e.txt"},
         {{"e.bk", EMPTY_BK}}},
        {"existing_target_is_replaced", {{"s.txt", "abc"}, {"s.bk", "old"}}, {"s.txt"}, ABC_REPORT, 0,
         {"s.bk", "s.txt"}, {{"s.bk", ABC_BK}}},
        // The input is never replaced by its own conversion, under whatever name.
        {"input_named_bk_is_refused", {{"x.bk", "abc"}}, {"x.bk"}, itself("x.bk", "x.bk"), 1, {"x.bk"},
         {{"x.bk", bytes_of("abc")}}},
        {"input_named_bk_by_another_path_is_refused", {{"x.bk", "abc"}, {"dir", "", Kind::folder}}, {"dir/../x.bk"},
         itself("dir/../x.bk", "dir/../x.bk"), 1, {"dir/", "x.bk"}, {{"x.bk", bytes_of("abc")}}},
        {"link_named_bk_to_the_input_is_refused", {{"x.txt", "abc"}, {"l.bk", "x.txt", Kind::link}}, {"l.bk"},
         itself("l.bk", "l.bk"), 1, {"l.bk", "x.txt"}, {{"x.txt", bytes_of("abc")}, {"l.bk", bytes_of("abc")}}},
        {"target_hard_linked_to_the_input_is_refused", {{"y.txt", "abc"}, {"y.bk", "y.txt", Kind::hard_link}},
         {"y.txt"}, itself("y.txt", "y.bk"), 1, {"y.bk", "y.txt"},
         {{"y.txt", bytes_of("abc")}, {"y.bk", bytes_of("abc")}}},
        {"target_linked_to_the_input_is_refused", {{"y.txt", "abc"}, {"y.bk", "y.txt", Kind::link}}, {"y.txt"},
         itself("y.txt", "y.bk"), 1, {"y.bk", "y.txt"}, {{"y.txt", bytes_of("abc")}, {"y.bk", bytes_of("abc")}}},
        {"link_at_the_target_is_replaced_not_followed", {{"l.txt", "abc"}, {"far", "keep"}, {"l.bk", "far", Kind::link}},
         {"l.txt"}, ABC_REPORT, 0, {"far", "l.bk", "l.txt"}, {{"l.bk", ABC_BK}, {"far", bytes_of("keep")}}},
        {"folder_as_input", {{"d.txt", "", Kind::folder}}, {"d.txt"}, "Can't read file d.txt: Is a directory\n", 1,
         {"d.txt/"}},
        // The temporary file is made in the target's own folder: here the
        // only one that may be written.
        {"temporary_file_is_made_in_the_targets_folder",
         {{"locked/open/t.txt", "abc"}, {"locked", "", Kind::folder, 0, 0555}}, {"locked/open/t.txt"}, ABC_REPORT, 0,
         {"locked/", "locked/open/", "locked/open/t.bk", "locked/open/t.txt"}, {{"locked/open/t.bk", ABC_BK}},
         {.as_any_user = true}},
        {"fifo_is_refused_without_blocking", {{"f.txt", "", Kind::fifo}}, {"f.txt"},
         "Can't read file f.txt: not a regular file\n", 1, {"f.txt"}},
        {"folder_occupying_the_target_name", {{"y.txt", "abc"}, {"y.bk", "", Kind::folder}}, {"y.txt"},
         "Compressing\n\nCan't write file y.bk: Is a directory\n", 1, {"y.bk/", "y.txt"}},
        // Files whose size lies, reached through a link so the .bk can be made
        // here: /proc reports 0 bytes and gives more, /sys reports 4096 and gives
        // fewer; /proc/self/mem fails to read.
        {"input_that_outgrows_its_measured_size", {{"status.txt", "/proc/self/status", Kind::link}}, {"status.txt"},
         "Compressing\n\nCan't read file status.txt: it changed while being read\n", 1, {"status.txt"}},
        {"input_that_falls_short_of_its_measured_size", {{"online.txt", "/sys/devices/system/cpu/online", Kind::link}},
         {"online.txt"}, "Compressing\n\nCan't read file online.txt: it changed while being read\n", 1, {"online.txt"}},
        {"read_error_is_not_taken_for_the_end", {{"mem.txt", "/proc/self/mem", Kind::link}}, {"mem.txt"},
         "Compressing\n\nCan't read file mem.txt: Input/output error\n", 1, {"mem.txt"}},
        // The .bk never grants more than the input, and the umask still applies.
        {"private_input_gives_a_private_bk", {{"p.txt", "abc", Kind::file, 0, 0600}}, {"p.txt"}, ABC_REPORT, 0,
         {"p.bk", "p.txt"}, {{"p.bk", ABC_BK}}, {}, {}, 0600},
        {"execute_bits_are_not_passed_on", {{"x.sh", "abc", Kind::file, 0, 0755}}, {"x.sh"}, ABC_REPORT, 0,
         {"x.bk", "x.sh"}, {{"x.bk", ABC_BK}}, {}, {}, 0644},
        {"umask_077_is_honoured", {{"u.txt", "abc"}}, {"u.txt"}, ABC_REPORT, 0, {"u.bk", "u.txt"}, {{"u.bk", ABC_BK}},
         {.umask = 077}, {}, 0600},
        {"closed_pipe_on_standard_output_fails_after_writing", {{"c.txt", "abc"}}, {"c.txt"}, "", 1,
         {"c.bk", "c.txt"}, {{"c.bk", ABC_BK}}, {.stdout_closed = true},
         "mornak: can't write to standard output: Broken pipe\n"},
        {"sparse_input_over_2_gib_is_refused_unread", {{"big.txt", "", Kind::sparse, off_t{1} << 31}}, {"big.txt"},
         too_large, 1, {"big.txt"}},
        {"unwritable_standard_output_fails_after_writing", {{"o.txt", "abc"}}, {"o.txt"}, "", 1, {"o.bk", "o.txt"},
         {{"o.bk", ABC_BK}}, {.stdout_full = true},
         "mornak: can't write to standard output: No space left on device\n"},
        {"failed_write_keeps_the_old_target_and_leaves_no_temporary",
         {{"r.txt", noise}, {"r.bk", "old"}},
         {"r.txt"},
         "Compressing\n...\nCan't write file r.bk: File too large\n",
         1,
         {"r.bk", "r.txt"},
         {{"r.bk", bytes_of("old")}},
         {.file_limit = 4096}},
    };
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's shadow memory needs more address space
    // Memory does not grow with the input: 64 MiB convert in 64 MiB of address space.
    const off_t mib_64 = off_t{64} << 20;
    rows.push_back({"sixty_four_mib_in_sixty_four_mib_of_address_space",
                    {{"zeros.bin", "", Kind::sparse, mib_64}},
                    {"zeros.bin"},
                    report_for(Bytes(static_cast<std::size_t>(mib_64), 0), 6710),
                    0,
                    {"zeros.bin", "zeros.bk"},
                    {},
                    {.memory_limit = rlim_t{64} << 20}});
#endif
    // Only the extension of the last path component is replaced.
    const std::vector<std::pair<std::string, std::string>> names = {
        {"story.txt", "story.bk"},   {"story", "story.bk"},         {"story.", "story.bk"},
        {"a.b.c", "a.b.bk"},         {".profile", ".profile.bk"},   {"old.dir/readme", "old.dir/readme.bk"},
        {"dir/.profile", "dir/.profile.bk"}, {"dir.d/x.y/z.txt", "dir.d/x.y/z.bk"},
        {std::string(200, 'd') + "/" + std::string(150, 'f') + ".txt", std::string(200, 'd') + "/" + std::string(150, 'f') + ".bk"},
    };
    for (const auto& [input, output] : names) {
        std::vector<std::string> left = {input, output};
        for (fs::path p = fs::path(input).parent_path(); !p.empty(); p = p.parent_path()) {
            left.push_back(p.string() + "/");
        }
        std::ranges::sort(left);
        rows.push_back({"name_" + input.substr(0, 40), {{input, "abc"}}, {input}, ABC_REPORT, 0, left, {{output, ABC_BK}}});
    }
    return rows;
}

TEST(CommandLine, ArgumentsConsoleExitStatusAndFilesLeft) {
    for (const auto& row : cases()) {
        SCOPED_TRACE(row.name);
        Folder folder;
        for (const auto& entry : row.setup) {
            folder.make(entry);
        }
        const Outcome outcome = run_mornak(folder.path, row.args, row.options);
        EXPECT_EQ(outcome.out, row.out);
        EXPECT_EQ(outcome.err, row.err);
        EXPECT_EQ(outcome.status, row.status);
        EXPECT_EQ(folder.listing(), row.left);
        for (const auto& [name, bytes] : row.contents) {
            EXPECT_EQ(folder.read(name), bytes) << name;
            if (row.status == 0 && name.ends_with(".bk")) {
                const auto status = fs::symlink_status(folder.path / name);
                EXPECT_EQ(status.type(), fs::file_type::regular) << name;
                EXPECT_EQ(status.permissions(), fs::perms(row.bk_mode)) << name;
            }
        }
    }
}

TEST(CommandLine, EveryRowConvertsToTheLibrarysBytesWithDotsCountedAfreshWithEachDictionary) {
    for (const RoundTrip& row : round_trip_rows()) {
        if (row.large) {
            continue;
        }
        SCOPED_TRACE(row.name);
        Folder folder;
        folder.make({"in", std::string(row.input.begin(), row.input.end())});
        const Outcome outcome = run_mornak(folder.path, {"in"});
        ASSERT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.out, report_for(row.input, dots_for(row.input)));
        EXPECT_TRUE(folder.read("in.bk") == compress(row.input)) << "mornak wrote other bytes than the library";
    }
}

TEST(CommandLine, StreamLargerThanFourMillionBytesConvertsWhole) {
    Folder folder;
    const Bytes input = random_bytes(3500000, 10);
    folder.make({"noise.bin", std::string(input.begin(), input.end())});
    const Outcome outcome = run_mornak(folder.path, {"noise.bin"});
    ASSERT_EQ(outcome.status, 0) << outcome.out;

    const Bytes bk = folder.read("noise.bk");
    ASSERT_GT(bk.size(), 4000000u + 8);
    EXPECT_EQ(Bytes(bk.begin(), bk.begin() + 8), pack({{0x626F6F6B, 32}, {0xE0673500, 32}}))  // 3500000, little-endian
        << "magic and length";
    const Decoded decoded = decode_stream(std::span(bk).subspan(8));
    ASSERT_EQ(decoded.error, "");
    EXPECT_TRUE(decoded.bytes == input);
    EXPECT_NE(outcome.out.find("Out: " + std::to_string(bk.size()) + " bytes\n"), std::string::npos);
}

}  // namespace
