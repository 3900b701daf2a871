// How both programs meet signals: whatever ends the process removes the
// output file in the making first.
#pragma once

#include <csignal>

namespace programs {

// Ignores SIGPIPE and SIGXFSZ, so that a closed pipe or a file size limit
// shows up as a failed write (EPIPE, EFBIG) that the run reports and cleans
// up after. Every other catchable signal whose default action ends the
// process removes the temporary output file, if one exists at that moment,
// and then ends the process by the same signal, so the parent sees it and a
// shell reports 128 + its number. A signal ignored at start (nohup, a
// background job) stays ignored.
void install_signal_policy();

// Holds back the signals of that policy while alive, so that the temporary
// file's creation and its rename or removal are seen whole by the handler.
class SignalsHeld {
public:
    SignalsHeld();
    ~SignalsHeld();
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t before_{};
};

}  // namespace programs
