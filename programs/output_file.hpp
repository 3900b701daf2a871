// The one way both programs write a result. Into a regular file it goes
// through a temporary file beside the target, which takes the target's name
// only when it is complete and closed, so the target is either replaced whole
// or left as it was. Into something already open (standard output, or an
// existing device, FIFO or socket named as the output) it is written straight
// in, as the shell's ">" does: those cannot be replaced without harm, and
// what went out cannot be taken back.
//
// One output at a time: the signal handler knows of a single temporary file.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <span>
#include <string>

namespace programs {

// The mode for a file made from an input of mode `input_mode`: its permission
// bits without execute bits, less the umask. It never grants more than the
// input does.
mode_t output_mode(mode_t input_mode);

// What the finished temporary file does to whatever holds the target's name
// by then: replaces it (a symbolic link there is replaced, not written
// through), or leaves it alone, and the commit fails with EEXIST.
enum class AtTarget { replace, keep };

// One result being written. Whatever is not committed when it goes out of
// scope is aborted: a run has a single cleanup path however it ends.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Each begin first aborts what an earlier one began; 0, or the errno of
    // the step that failed, with nothing left behind.

    // Creates the temporary file in `target`'s folder with `mode`.
    int begin(const std::string& target, mode_t mode, AtTarget at_target);

    // For an output the user named. When `target`, once links are followed,
    // is an existing node that is neither a regular file nor a folder (a
    // device, a FIFO, a socket, a terminal), it is opened without being
    // created or truncated and written into; a FIFO waits here for its
    // reader. A link to a regular file that standard output or standard
    // error already has open (/dev/stdout into a file) is that descriptor,
    // written into as it stands. Anything else is begin(target, mode,
    // AtTarget::replace), but for a folder, which is EISDIR at once.
    int begin_named(const std::string& target, mode_t mode);

    // Writes to standard output, which stays open. A failed or closed
    // standard output fails the append.
    void begin_standard_output();

    // Appends `bytes`; 0 or errno. After a failure the output is only fit to
    // abort.
    int append(std::span<const std::uint8_t> bytes);

    // Bytes appended since begin.
    std::uint64_t bytes() const { return bytes_; }

    // Bytes written since begin where abort cannot take them back: those that
    // went into something already open; 0 on the temporary-file route. Still
    // counted after commit and abort, until the next begin.
    std::uint64_t bytes_gone_out() const { return gone_out_; }

    // Temporary file: closes it and gives it the target's name; 0, or errno
    // after removing it. Node opened here: closes it; 0 or errno. Descriptor
    // already open: leaves it open; 0.
    int commit();

    // Removes the temporary file or closes the node opened here; leaves a
    // descriptor that was already open as it is.
    void abort();

private:
    enum class Route {
        none,         // nothing begun, or it was committed or aborted
        temporary,    // a temporary file, renamed into place at commit
        opened_here,  // an existing node opened by begin_named, closed at commit
        already_open, // standard output, or the descriptor a link such as /dev/stdout names: left open
    };

    // Aborts what was begun and counts from 0 again.
    void start_afresh();
    // Starts afresh on `fd`, reached by `route`.
    void write_into(int fd, Route route);

    Route route_ = Route::none;
    int fd_ = -1;
    std::string temporary_;  // the temporary file's name, on that route
    std::string target_;
    AtTarget at_target_ = AtTarget::replace;
    std::uint64_t bytes_ = 0;
    std::uint64_t gone_out_ = 0;
};

// For the signal handler: removes the temporary file if it exists at that
// moment. Async-signal-safe.
void remove_temporary_in_handler();

}  // namespace programs
