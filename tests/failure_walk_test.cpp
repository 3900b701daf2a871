// Every system call a conversion makes, made to fail in turn, and every one
// of them interrupted by a signal: whatever happens, the input and any old
// .bk file survive, no temporary file is left, and the outcome is reported.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "decoder.hpp"
#include "run_mornak.hpp"
#include "support.hpp"

namespace {

const std::string INPUT = "story.txt";
const std::string TARGET = "story.bk";
const std::string OLD_TARGET = "the .bk file from last week\n";

struct FailurePoint {
    std::string function;
    int error;            // errno the call fails with
    std::string message;  // what the converter must say about it
};

std::vector<FailurePoint> failure_points() {
    const auto reason = [](int e) { return std::string(std::strerror(e)); };
    return {
        {"open", EACCES, "Can't open file story.txt\n"},
        {"fdopen", EMFILE, "Can't read file story.txt: " + reason(EMFILE) + "\n"},
        {"fstat", EIO, "Can't read file story.txt: " + reason(EIO) + "\n"},
        {"fread", EIO, "Can't read file story.txt: " + reason(EIO) + "\n"},
        {"mkostemp", ENOSPC, "Can't write file story.bk: " + reason(ENOSPC) + "\n"},
        {"fchmod", EPERM, "Can't write file story.bk: " + reason(EPERM) + "\n"},
        {"write", ENOSPC, "Can't write file story.bk: " + reason(ENOSPC) + "\n"},
        {"close", EIO, "Can't write file story.bk: " + reason(EIO) + "\n"},
        {"rename", EXDEV, "Can't write file story.bk: " + reason(EXDEV) + "\n"},
    };
}

class FailureWalk : public ::testing::Test {
protected:
    Folder work;
    Folder side;  // for the call counts, outside the folder under test
    const Bytes input = text_like(150'000, 11);  // three read blocks, a 128 KiB+ output buffer

    void SetUp() override {
#if defined(__SANITIZE_ADDRESS__)
        GTEST_SKIP() << "the sanitizer runtime must come first; LD_PRELOAD cannot";
#endif
        reset();
    }
    void reset() const {
        std::filesystem::remove_all(work.path);
        std::filesystem::create_directory(work.path);
        work.make({INPUT, std::string(input.begin(), input.end())});
        work.make({TARGET, OLD_TARGET});
    }
    Outcome run(const std::string& fault, const std::string& counts = "") const {
        Options options;
        options.environment = {"LD_PRELOAD=" FAULT_LIBRARY, "MORNAK_FAULT=" + fault};
        if (!counts.empty()) {
            options.environment.push_back("MORNAK_FAULT_COUNTS=" + counts);
        }
        return run_mornak(work.path, {INPUT}, options);
    }
    // Calls of each function in a conversion that goes right.
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
    bool converted_right() const {
        const Bytes file = work.read(TARGET);
        if (file.size() < 8 || !std::equal(file.begin(), file.begin() + 4, "book")) {
            return false;
        }
        const Decoded back = decode_stream(std::span(file).subspan(8));
        return back.error.empty() && back.bytes == input;
    }
    // Only the input and the target, the input as it was.
    void expect_files_intact(const std::string& point, bool new_target) const {
        EXPECT_EQ(work.listing(), (std::vector<std::string>{TARGET, INPUT})) << point;
        EXPECT_EQ(work.read(INPUT), input) << point;
        if (new_target) {
            EXPECT_TRUE(converted_right()) << point;
        } else {
            EXPECT_EQ(work.read(TARGET), bytes_of(OLD_TARGET)) << point;
        }
    }
};

TEST_F(FailureWalk, EveryFailedCallIsReportedAndLosesNothing) {
    const auto calls = count_calls();
    ASSERT_TRUE(converted_right());
    int walked = 0;
    for (const FailurePoint& p : failure_points()) {
        ASSERT_GT(calls.at(p.function), 0u) << p.function << " is never called";
        for (unsigned long n = 1; n <= calls.at(p.function); ++n, ++walked) {
            reset();
            const std::string point = p.function + " call " + std::to_string(n);
            const Outcome o = run(p.function + " " + std::to_string(n) + " " + std::to_string(p.error));
            EXPECT_EQ(o.status, 1) << point;
            EXPECT_TRUE(o.out.ends_with(p.message)) << point << ": " << o.out;
            EXPECT_EQ(o.out.find("In :"), std::string::npos) << point;
            expect_files_intact(point, false);
        }
    }
    std::printf("failure points walked: %d\n", walked);
    EXPECT_GE(walked, 12);
}

TEST_F(FailureWalk, InterruptedWritesAreRetried) {
    const Outcome o = run("write 1 " + std::to_string(EINTR));
    EXPECT_EQ(o.status, 0) << o.out;
    expect_files_intact("write interrupted", true);
}

TEST_F(FailureWalk, SignalsAtEveryCallLeaveNoTemporaryFile) {
    const auto calls = count_calls();
    // Every signal a user or the system may send to end a run, in turn.
    const std::vector<int> signals = {SIGINT,  SIGTERM,   SIGHUP,  SIGQUIT, SIGALRM,
                                      SIGXCPU, SIGVTALRM, SIGPROF, SIGUSR1, SIGUSR2};
    int walked = 0;
    for (const auto& [function, count] : calls) {
        for (unsigned long n = 1; n <= count; ++n, ++walked) {
            reset();
            const int signal_number = signals[static_cast<std::size_t>(walked) % signals.size()];
            const std::string point = function + " call " + std::to_string(n) + ", signal " +
                                      std::to_string(signal_number);
            const Outcome o = run(function + " " + std::to_string(n) + " raise " + std::to_string(signal_number));
            EXPECT_EQ(o.status, 128 + signal_number) << point << ": " << o.out;
            EXPECT_EQ(o.out.find("In :"), std::string::npos) << point;
            // A signal during the rename is held until it is done: the new
            // file is then whole.
            expect_files_intact(point, function == "rename");
        }
    }
    std::printf("signal points walked: %d\n", walked);
    EXPECT_GE(walked, static_cast<int>(signals.size()));
}

}  // namespace
