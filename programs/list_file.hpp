// unmornak --list: what .bk files hold, without restoring them.
#pragma once

#include <vector>

namespace programs {

// Prints a heading, one line per file (its size, the content size its
// header gives, their ratio, the number of dictionaries) and, for several
// files, a total line of those listed. A file that cannot be listed is
// reported as restoring it would report it. EXIT_DONE or EXIT_FAILED.
int list_files(const std::vector<const char*>& paths);

}  // namespace programs
