// The one way both programs write a result. Into a regular file it goes
// through a temporary file beside the target, which takes the target's name
// only when it is complete and closed, so the target is either replaced whole
// or left as it was. Into something already open (standard output, or an
// existing device, FIFO or socket named as the output) it is written straight
// in, as the shell's ">" does: those cannot be replaced without harm, and
// what went out cannot be taken back. One output at a time.
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

// Creates the temporary file in `target`'s folder with `mode`. 0, or the
// errno of the step that failed (nothing is then left behind).
int begin_output(const std::string& target, mode_t mode, AtTarget at_target);

// For an output the user named. When `target`, once links are followed, is
// an existing node that is neither a regular file nor a folder (a device, a
// FIFO, a socket, a terminal), it is opened without being created or
// truncated and written into; a FIFO waits here for its reader. A link to a
// regular file that standard output or standard error already has open
// (/dev/stdout into a file) is that descriptor, written into as it stands.
// Anything else is begin_output(target, mode, AtTarget::replace).
// 0, or the errno of the step that failed.
int begin_named_output(const std::string& target, mode_t mode);

// Writes to standard output: append writes there, commit and abort leave it
// open. A failed or closed standard output fails the append.
void begin_output_to_stdout();

// Appends `bytes`; 0 or errno. After a failure the output is only fit to abort.
int append_output(std::span<const std::uint8_t> bytes);

// Bytes appended since begin.
std::uint64_t output_bytes();

// Bytes written since begin where abort_output cannot take them back: those
// that went into something already open. 0 on the temporary-file route. Still
// counted after commit and abort, until the next begin.
std::uint64_t bytes_gone_out();

// Temporary file: closes it and gives it the target's name; 0, or errno after
// removing it. Something already open: closes what begin opened (standard
// output stays open); 0 or errno.
int commit_output();

// Removes the temporary file, if one is open, or closes what begin opened; a
// no-op otherwise.
void abort_output();

// For the signal handler: removes the temporary file if it exists at that
// moment. Async-signal-safe.
void remove_temporary_in_handler();

}  // namespace programs
