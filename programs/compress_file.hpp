// mornak's conversion of one file into the .bk file beside it.
#pragma once

namespace programs {

// Converts the file at `path` into its .bk file (derive_output_name), which
// replaces one of that name only once it is complete; a .bk name that is the
// input itself under any name is refused. On standard output:
// "Compressing", a dot per 10,000 input bytes (the count starts after the
// first byte and again with each fresh dictionary), a closing newline and
// the three report lines; or what failed, in mornak's words, and then no
// report. Returns EXIT_DONE or EXIT_FAILED; on failure nothing was written
// and an existing .bk file is untouched.
int compress_file(const char* path);

}  // namespace programs
