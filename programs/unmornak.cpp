// unmornak: restores .bk files, or checks them.
//
//   unmornak FILE.bk            restore into FILE, beside it
//   unmornak FILE.bk OUTPUT     restore into OUTPUT; "-" is standard output, and
//                               a device, FIFO or terminal is written into
//   unmornak --test FILE.bk...  check each file; write nothing
//   unmornak --list FILE.bk...  one line on each file, without restoring it
//   -T N, --threads N           restore and check on N threads (0: every core)
//
// Exit status: 0 when everything was done, 1 when any file failed, 2 for a
// command line it cannot use.

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "programs/exit_status.hpp"
#include "programs/list_file.hpp"
#include "programs/output_name.hpp"
#include "programs/restore_file.hpp"
#include "programs/signals.hpp"
#include "programs/standard_output.hpp"
#include "programs/threads.hpp"
#include "programs/version.hpp"

namespace {

constexpr const char* USAGE =
    "Usage: unmornak FILE.bk [OUTPUT]\n"
    "       unmornak --test FILE.bk...\n"
    "       unmornak --list FILE.bk...\n"
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
    "  unmornak --list FILE.bk...  show each file's size, its content's size, their ratio\n"
    "                              and its number of dictionaries, without restoring it\n"
    "  -T N, --threads N           restore and check on N threads; 0 (the default) uses\n"
    "                              every core; the output is the same\n"
    "\n"
    "Exit status: 0 done, 1 a file failed, 2 wrong usage.\n";

int usage(const std::string& problem) {
    std::fprintf(stderr, "unmornak: %s\n%s", problem.c_str(), USAGE);
    return programs::EXIT_USAGE;
}

// A thread count as -T takes it: digits only, 0 to THREADS_MAX.
bool thread_count(std::string_view text, unsigned& count) {
    constexpr unsigned THREADS_MAX = 4096;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || text.empty() || value > THREADS_MAX) {
        return false;
    }
    count = value;
    return true;
}

int command(int argc, char** argv) {
    std::vector<const char*> operands;
    bool testing = false;
    bool listing = false;
    unsigned threads = 0;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (options_done || a == "-" || !a.starts_with("-")) {
            operands.push_back(argv[i]);
        } else if (a == "--") {
            options_done = true;
        } else if (a == "--test" || a == "-t") {
            testing = true;
        } else if (a == "--list" || a == "-l") {
            listing = true;
        } else if (a == "-T" || a == "--threads" || a.starts_with("--threads=") || (a.starts_with("-T") && a.size() > 2)) {
            std::string_view count;
            if (a == "-T" || a == "--threads") {
                if (i + 1 == argc) {
                    return usage(std::string(a) + " needs a number of threads");
                }
                count = argv[++i];
            } else {
                count = a.substr(a.starts_with("-T") ? 2 : std::string_view("--threads=").size());
            }
            if (!thread_count(count, threads)) {
                return usage("not a number of threads: " + std::string(count));
            }
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
    if (testing && listing) {
        return usage("--test and --list go alone");
    }
    if (listing) {
        return programs::list_files(operands);
    }
    const programs::Threads spread = programs::threads_for(threads);
    if (testing) {
        int status = programs::EXIT_DONE;
        for (const char* path : operands) {
            status = std::max(status, programs::test_file(path, spread));
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
    return programs::restore_file(operands[0], output, spread);
}

}  // namespace

int main(int argc, char** argv) {
    programs::install_signal_policy();
    return programs::finish_standard_output("unmornak", command(argc, argv));
}
