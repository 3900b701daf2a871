// The last word of both programs on standard output.
#pragma once

namespace programs {

// Flushes standard output; when it could not be written (a full disk, a
// closed pipe), says so on standard error as "PROGRAM: can't write to
// standard output: REASON" and turns a success (0) into a failure (1),
// since a report nobody could read is no success. Returns the exit status.
int finish_standard_output(const char* program, int status);

}  // namespace programs
