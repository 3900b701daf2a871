// unmornak: restores .bk files, or checks them.
//
//   unmornak FILE.bk            restore into FILE, beside it
//   unmornak FILE.bk OUTPUT     restore into OUTPUT; "-" is standard output, and
//                               a device, FIFO or terminal is written into
//   unmornak --test FILE.bk...  check each file; write nothing
//
// Exit status: 0 when everything was done, 1 when any file failed, 2 for a
// command line it cannot use.

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "programs/exit_status.hpp"
#include "programs/output_name.hpp"
#include "programs/restore_file.hpp"
#include "programs/signals.hpp"
#include "programs/standard_output.hpp"
#include "programs/version.hpp"

namespace {

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
    "                              mornak writes for those bytes; write nothing. A .bk file\n"
    "                              has no checksum: some damage passes\n"
    "\n"
    "Exit status: 0 done, 1 a file failed, 2 wrong usage.\n";

int usage(const std::string& problem) {
    std::fprintf(stderr, "unmornak: %s\n%s", problem.c_str(), USAGE);
    return programs::EXIT_USAGE;
}

int command(int argc, char** argv) {
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
            return programs::EXIT_DONE;
        } else if (a == "--version" || a == "-V") {
            programs::print_version_line("unmornak");
            return programs::EXIT_DONE;
        } else {
            return usage("unknown option " + std::string(a));
        }
    }
    if (operands.empty()) {
        return usage("no file named");
    }
    if (testing) {
        int status = programs::EXIT_DONE;
        for (const char* path : operands) {
            status = std::max(status, programs::test_file(path));
        }
        return status;
    }
    if (operands.size() > 2) {
        return usage("too many files: restore takes FILE.bk and at most one OUTPUT");
    }
    const char* output = operands.size() == 2 ? operands[1] : nullptr;
    if (output == nullptr && !programs::restored_name(operands[0])) {
        return usage("a name that does not end in .bk, or is only .bk, needs an OUTPUT");
    }
    return programs::restore_file(operands[0], output);
}

}  // namespace

int main(int argc, char** argv) {
    programs::install_signal_policy();
    return programs::finish_standard_output("unmornak", command(argc, argv));
}
