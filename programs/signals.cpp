#include "programs/signals.hpp"

#include "programs/output_file.hpp"

namespace programs {

namespace {

// Signals that end the process by default and can be caught. Real-time
// signals are added at run time (their range depends on the C library).
// SIGPIPE and SIGXFSZ are not here: they are ignored instead.
constexpr int ENDING_SIGNALS[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
                                  SIGFPE,  SIGUSR1, SIGSEGV,   SIGUSR2, SIGALRM, SIGTERM, SIGSTKFLT,
                                  SIGXCPU, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSYS};

sigset_t ending_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int s : ENDING_SIGNALS) {
        sigaddset(&set, s);
    }
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) {
        sigaddset(&set, s);
    }
    return set;
}

extern "C" void remove_temporary_and_end(int signal_number) {
    remove_temporary_in_handler();
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);  // delivered as soon as this handler returns
}

}  // namespace

void install_signal_policy() {
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = remove_temporary_and_end;
    // Further signals wait until this one has removed the file and re-raised.
    action.sa_mask = ending_signals();
    // Only default actions are replaced: one ignored at start stays ignored,
    // and a sanitizer's own fault handlers stay in place. Each is replaced
    // and, where it was not the default, put back: one system call per
    // signal rather than two, about 50 fewer at every start. Held meanwhile,
    // a signal the process ignores stays ignored.
    const SignalsHeld held;
    for (int s = 1; s <= SIGRTMAX; ++s) {
        struct sigaction previous {};
        if (sigismember(&action.sa_mask, s) == 1 && ::sigaction(s, &action, &previous) == 0 &&
            ((previous.sa_flags & SA_SIGINFO) != 0 || previous.sa_handler != SIG_DFL)) {
            ::sigaction(s, &previous, nullptr);
        }
    }
}

SignalsHeld::SignalsHeld() {
    const sigset_t held = ending_signals();
    ::sigprocmask(SIG_BLOCK, &held, &before_);
}

SignalsHeld::~SignalsHeld() { ::sigprocmask(SIG_SETMASK, &before_, nullptr); }

}  // namespace programs
