// The one way both programs write a result: into a temporary file beside the
// target, renamed over the target only when it is complete and closed, so the
// target is either replaced whole or left as it was. One output at a time.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <span>
#include <string>

namespace converter {

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

// Writes to standard output instead: append writes there, commit and abort
// leave it open. A failed or closed standard output fails the append.
void begin_output_to_stdout();

// Appends `bytes`; 0 or errno. After a failure the output is only fit to abort.
int append_output(std::span<const std::uint8_t> bytes);

// Bytes appended since begin.
std::uint64_t output_bytes();

// Closes the temporary file and gives it the target's name; 0, or errno after
// removing the temporary file.
int commit_output();

// Removes the temporary file, if one is open; a no-op otherwise.
void abort_output();

// For the signal handler: removes the temporary file if it exists at that
// moment. Async-signal-safe.
void remove_temporary_in_handler();

}  // namespace converter
