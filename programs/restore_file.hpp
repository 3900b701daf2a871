// unmornak's work on one .bk file: restoring it, or testing it. Each says
// what failed on standard error, as "unmornak: NAME: WHAT", and returns the
// exit status: EXIT_DONE or EXIT_FAILED. The .bk file is never changed.
#pragma once

#include "programs/threads.hpp"

namespace programs {

// Restores the .bk file at `bk_path` into `output`: a path, whose file is
// replaced whole (a device, FIFO, socket or terminal there is written into),
// or "-" for standard output. With `output` null, into restored_name(bk_path)
// beside it, never replacing anything there; a `bk_path` without that name
// gives EXIT_USAGE and no words, as the command line refuses it first. A
// damaged header is refused before any output is made. When the restore
// fails after bytes went where nothing takes them back, says how many.
// `threads` restore at once where the file has several dictionaries; the
// output is the same.
int restore_file(const char* bk_path, const char* output, const Threads& threads);

// Checks that the .bk file at `bk_path` restores whole and is exactly what
// mornak writes for the bytes it restores; writes nothing. On success says
// "PATH: OK, N bytes" on standard output, N being the restored length.
// `threads` as for restore_file; the verdict is the same.
int test_file(const char* bk_path, const Threads& threads);

}  // namespace programs
