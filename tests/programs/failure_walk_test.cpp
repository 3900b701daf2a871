// Every system call a run of mornak or unmornak makes, made to fail in turn,
// and every one of them interrupted by a signal: whatever happens, the input
// and any old output survive, no temporary file is left, and the outcome is
// reported.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <string>

#include "run_mornak.hpp"
#include "support.hpp"

namespace {

const std::string OLD_TARGET = "the file from last week\n";
const Bytes TEXT = text_like(150'000, 11);  // three read blocks
// Noise, then text: five dictionaries, for unmornak on threads.
const Bytes MIXED = random_bytes(400'000, 13) + TEXT;

struct FailurePoint {
    std::string function;
    int error;  // errno the call fails with
};

// Calls every run depends on; each program adds those of its output.
const std::vector<FailurePoint> READ_AND_WRITE = {
    {"open", EACCES}, {"fdopen", EMFILE}, {"fstat", EIO}, {"fread", EIO}, {"write", ENOSPC}, {"close", EIO},
};
const std::vector<FailurePoint> TEMPORARY_FILE = {{"mkostemp", ENOSPC}, {"fchmod", EPERM}};
// The calls that put the finished temporary file in place: a signal there
// waits until it is done, so the new target is then whole.
const std::vector<std::string> COMMIT_CALLS = {"rename", "renameat2", "link"};

std::vector<FailurePoint> operator+(std::vector<FailurePoint> a, const std::vector<FailurePoint>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string reason(int error) { return std::strerror(error); }

// What the target is before a run.
enum class Before {
    old_file,        // OLD_TARGET, replaced only by a whole new file
    nothing,         // the default name: nothing there, and nothing after a failure
    link_to_stdout,  // a link to /proc/self/fd/1, written through into standard output
};

// One program's run under test: what it reads, what it writes, and what it
// says when a call fails.
struct Program {
    std::string name;
    const char* binary;
    std::string input;
    std::vector<std::string> args;
    std::string target;
    Bytes input_bytes;
    Bytes target_bytes;  // what a successful run leaves in the target
    bool reports_on_stdout;
    // The message for the failure of `p` at its `call`-th call.
    std::function<std::string(const FailurePoint& p, unsigned long call)> message;
    std::vector<FailurePoint> points;  // every call of these is made to fail in turn
    Before before = Before::old_file;
    std::string base_fault = {};  // in every run, as MORNAK_FAULT gives it
};

Bytes converted(const Bytes& text) {
    Folder folder;
    folder.make({"story.txt", std::string(text.begin(), text.end())});
    run_mornak(folder.path, {"story.txt"});
    return folder.read("story.bk");
}

// unmornak's message: the .bk file for its reading calls, else the output.
// With two opens and two fstats, the first is the .bk file's.
// On threads, the second fstat looks at the .bk file again once it is restored.
auto unmornak_message(const std::string& output, bool threads = false) {
    return [output, threads](const FailurePoint& p, unsigned long call) {
        const bool reading = ((p.function == "open" || p.function == "fstat") && call == 1) ||
                             (threads && p.function == "fstat" && call == 2) || p.function == "fdopen" ||
                             p.function == "fread";
        return "unmornak: " + (reading ? std::string("story.bk") : output) + ": " + reason(p.error) + "\n";
    };
}

std::vector<Program> make_programs() {
    const Bytes bk = converted(TEXT);
    const auto temporary = READ_AND_WRITE + TEMPORARY_FILE;
    return {
        {"mornak", MORNAK_BINARY, "story.txt", {"story.txt"}, "story.bk", TEXT, bk, true,
         [](const FailurePoint& p, unsigned long) {
             const bool reading = p.function == "fdopen" || p.function == "fstat" || p.function == "fread";
             return p.function == "open" ? "Can't open file story.txt\n"
                    : reading            ? "Can't read file story.txt: " + reason(p.error) + "\n"
                                         : "Can't write file story.bk: " + reason(p.error) + "\n";
         },
         temporary + std::vector<FailurePoint>{{"rename", EXDEV}}},
        {"unmornak", UNMORNAK_BINARY, "story.bk", {"story.bk", "story.txt"}, "story.txt", bk, TEXT, false,
         unmornak_message("story.txt"), temporary + std::vector<FailurePoint>{{"rename", EXDEV}}},
        // The first segment restored here, the others on a second thread.
        {"unmornak_on_threads", UNMORNAK_BINARY, "story.bk", {"-T2", "story.bk", "story.txt"}, "story.txt",
         converted(MIXED), MIXED, false, unmornak_message("story.txt", true),
         temporary + std::vector<FailurePoint>{{"rename", EXDEV}}},
        {"unmornak_default_name", UNMORNAK_BINARY, "story.bk", {"story.bk"}, "story", bk, TEXT, false,
         unmornak_message("story"), temporary + std::vector<FailurePoint>{{"renameat2", EACCES}}, Before::nothing},
        // As on a file system that cannot rename without replacing.
        {"unmornak_default_name_by_link", UNMORNAK_BINARY, "story.bk", {"story.bk"}, "story", bk, TEXT, false,
         unmornak_message("story"), temporary + std::vector<FailurePoint>{{"link", EPERM}}, Before::nothing,
         "renameat2 0 " + std::to_string(EINVAL)},
        // Written into, as /dev/stdout on a pipe: the second open and fstat are the output's.
        {"unmornak_into_a_link_to_standard_output", UNMORNAK_BINARY, "story.bk", {"story.bk", "out"}, "out", bk,
         TEXT, false, unmornak_message("out"), READ_AND_WRITE, Before::link_to_stdout},
    };
}

// Made once per test process, though every test's name asks for them: the
// .bk file comes from a run of mornak.
const std::vector<Program>& programs() {
    static const std::vector<Program> all = make_programs();
    return all;
}

class FailureWalk : public ::testing::TestWithParam<std::size_t> {
protected:
    Folder work;
    Folder side;  // for the call counts, outside the folder under test
    Program program;

    void SetUp() override {
#if defined(__SANITIZE_ADDRESS__)
        GTEST_SKIP() << "the sanitizer runtime must come first; LD_PRELOAD cannot";
#endif
        program = programs()[GetParam()];
        reset();
    }
    void reset() const {
        std::filesystem::remove_all(work.path);
        std::filesystem::create_directory(work.path);
        work.make({program.input, std::string(program.input_bytes.begin(), program.input_bytes.end())});
        if (program.before == Before::old_file) {
            work.make({program.target, OLD_TARGET});
        } else if (program.before == Before::link_to_stdout) {
            work.make({program.target, "/proc/self/fd/1", Kind::link});
        }
    }
    Outcome run(const std::string& fault, const std::string& counts = "", int ignored_signal = 0) const {
        Options options;
        options.ignored_signal = ignored_signal;
        const std::string faults = program.base_fault.empty() || fault.empty() ? program.base_fault + fault
                                                                                 : program.base_fault + "; " + fault;
        options.environment = {"LD_PRELOAD=" FAULT_LIBRARY, "MORNAK_FAULT=" + faults};
        if (!counts.empty()) {
            options.environment.push_back("MORNAK_FAULT_COUNTS=" + counts);
        }
        return run_program(program.binary, work.path, program.args, options);
    }
    // Calls of each function in a run that goes right.
    std::map<std::string, unsigned long> count_calls() const {
        const std::string counts = (side.path / "counts").string();
        const Outcome plain = run("", counts);
        EXPECT_EQ(plain.status, 0) << plain.out << plain.err;
        std::map<std::string, unsigned long> calls;
        std::ifstream in(counts);
        std::string name;
        for (unsigned long n = 0; in >> name >> n;) {
            calls[name] = n;
        }
        return calls;
    }
    // The message for a failed call, and for bytes that had gone out of reach
    // before it: their number is what the other end got.
    std::string expected_message(const FailurePoint& p, unsigned long call, const Outcome& o) const {
        std::string message = program.message(p, call);
        if (program.before == Before::link_to_stdout && !o.out.empty()) {
            message += "unmornak: " + program.target + ": " + std::to_string(o.out.size()) +
                       " restored bytes were written before this and cannot be taken back\n";
        }
        return message;
    }
    // Only the input and the target, the input as it was; the target as it
    // was, or whole when `new_target`. Through the link, what reached
    // standard output is the start of the result, or all of it.
    void expect_files_intact(const std::string& point, bool new_target, const Outcome& o) const {
        std::vector<std::string> left = {program.input};
        if (program.before != Before::nothing || new_target) {
            left.push_back(program.target);
        }
        std::ranges::sort(left);
        EXPECT_EQ(work.listing(), left) << point;
        EXPECT_EQ(work.read(program.input), program.input_bytes) << point;
        const std::string result(program.target_bytes.begin(), program.target_bytes.end());
        if (program.before == Before::link_to_stdout) {
            std::error_code not_a_link;
            EXPECT_EQ(std::filesystem::read_symlink(work.path / program.target, not_a_link), "/proc/self/fd/1") << point;
            EXPECT_TRUE(new_target ? o.out == result : result.starts_with(o.out)) << point;
        } else if (new_target || program.before == Before::old_file) {
            EXPECT_EQ(work.read(program.target), new_target ? program.target_bytes : bytes_of(OLD_TARGET)) << point;
        }
    }
};

TEST_P(FailureWalk, EveryFailedCallIsReportedAndLosesNothing) {
    const auto calls = count_calls();
    {
        reset();
        const Outcome o = run("");
        EXPECT_EQ(o.status, 0) << o.out << o.err;
        expect_files_intact("a run that goes right", true, o);
    }
    int walked = 0;
    for (const FailurePoint& p : program.points) {
        ASSERT_GT(calls.at(p.function), 0u) << p.function << " is never called";
        for (unsigned long n = 1; n <= calls.at(p.function); ++n, ++walked) {
            reset();
            const std::string point = p.function + " call " + std::to_string(n);
            const Outcome o = run(p.function + " " + std::to_string(n) + " " + std::to_string(p.error));
            EXPECT_EQ(o.status, 1) << point;
            const std::string& said = program.reports_on_stdout ? o.out : o.err;
            EXPECT_TRUE(said.ends_with(expected_message(p, n, o))) << point << ": " << said;
            EXPECT_EQ(o.out.find("In :"), std::string::npos) << point;
            expect_files_intact(point, false, o);
        }
    }
    std::printf("%s: failure points walked: %d\n", program.name.c_str(), walked);
    EXPECT_GE(walked, static_cast<int>(program.points.size()));
}

TEST_P(FailureWalk, InterruptedWritesAreRetried) {
    const Outcome o = run("write 1 " + std::to_string(EINTR));
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    expect_files_intact("write interrupted", true, o);
}

TEST_P(FailureWalk, SignalsAtEveryCallLeaveNoTemporaryFile) {
    const auto calls = count_calls();
    // Every signal a user or the system may send to end a run, in turn.
    const std::vector<int> signals = {SIGINT,  SIGTERM,   SIGHUP,  SIGQUIT, SIGALRM,
                                      SIGXCPU, SIGVTALRM, SIGPROF, SIGUSR1, SIGUSR2};
    int walked = 0;
    // Every point at least once, and again while some signal has not been raised.
    for (int round = 0; round == 0 || walked < static_cast<int>(signals.size()); ++round) {
        for (const auto& [function, count] : calls) {
            for (unsigned long n = 1; n <= count; ++n, ++walked) {
                reset();
                const int signal_number = signals[static_cast<std::size_t>(walked) % signals.size()];
                const std::string point = function + " call " + std::to_string(n) + ", signal " +
                                          std::to_string(signal_number);
                const Outcome o = run(function + " " + std::to_string(n) + " raise " + std::to_string(signal_number));
                EXPECT_EQ(o.status, 128 + signal_number) << point << ": " << o.out << o.err;
                EXPECT_EQ(o.out.find("In :"), std::string::npos) << point;
                // A signal while the new file is put in place is held until that
                // is done: the new file is then whole.
                expect_files_intact(point, std::ranges::find(COMMIT_CALLS, function) != COMMIT_CALLS.end(), o);
            }
        }
    }
    std::printf("%s: signal points walked: %d\n", program.name.c_str(), walked);
    EXPECT_GE(walked, static_cast<int>(signals.size()));
}

TEST_P(FailureWalk, SignalsIgnoredAtStartStayIgnored) {
    for (const int signal_number : {SIGHUP, SIGINT, SIGTERM}) {
        reset();
        const std::string point = "signal " + std::to_string(signal_number);
        const Outcome o = run("write 1 raise " + std::to_string(signal_number), "", signal_number);
        EXPECT_EQ(o.status, 0) << point << ": " << o.out << o.err;
        expect_files_intact(point, true, o);
    }
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, FailureWalk, ::testing::Range<std::size_t>(0, 6),
                         [](const auto& param_info) { return programs()[param_info.param].name; });

}  // namespace
