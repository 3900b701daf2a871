// mornak: converts one file into a .bk file beside it.
//
//   mornak FILE        convert FILE
//   mornak --help      the banner, the usage and what it does
//   mornak --version   the banner's first line, then mornak's and libmornak's versions
//
// Any other single argument is a file name; ./--help converts a file of that
// name. Exit status: 0 after a conversion or --help/--version, 1 when the
// conversion failed (nothing was written and any existing .bk file is
// untouched) or standard output could not be written, 2 after the usage
// banner.

#include <cstdio>
#include <cstring>

#include "programs/compress_file.hpp"
#include "programs/exit_status.hpp"
#include "programs/signals.hpp"
#include "programs/standard_output.hpp"
#include "programs/version.hpp"

namespace {

constexpr const char* BANNER = "Ostrivel ver. 1.2 by Vuldrim\n";
constexpr const char* USAGE = "Usage: mornak <filename>\n";
constexpr const char* HELP =
    "\n"
    "Converts <filename> into a .bk file beside it (story.txt gives story.bk),\n"
    "replacing a file of that name once the new one is complete.\n"
    "unmornak restores it. To convert a file named --help, write ./--help.\n"
    "\n"
    "Exit status: 0 converted, 1 failed, 2 wrong usage.\n";

int command(int argc, char** argv) {
    if (argc != 2) {
        std::printf("%s%s", BANNER, USAGE);
        return programs::EXIT_USAGE;
    }
    if (std::strcmp(argv[1], "--help") == 0) {
        std::printf("%s%s%s", BANNER, USAGE, HELP);
        return programs::EXIT_DONE;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s", BANNER);
        programs::print_version_line("mornak");
        return programs::EXIT_DONE;
    }
    return programs::compress_file(argv[1]);
}

}  // namespace

int main(int argc, char** argv) {
    programs::install_signal_policy();
    return programs::finish_standard_output("mornak", command(argc, argv));
}
