// The exit statuses of both programs.
#pragma once

namespace programs {

constexpr int EXIT_DONE = 0;    // everything asked for was done
constexpr int EXIT_FAILED = 1;  // a file failed, or standard output could not be written
constexpr int EXIT_USAGE = 2;   // a command line the program cannot use

}  // namespace programs
