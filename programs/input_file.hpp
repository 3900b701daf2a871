// Opening and measuring the file to convert.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>

namespace programs {

enum class InputKind { regular, folder, other, unknown };

// Opens `path` read-only. A FIFO is opened without blocking, so one with no
// writer cannot hang the run before it is refused. Returns the descriptor, or
// -1 with errno set.
int open_input(const char* path);

// What the open input is; for a regular file also its size in bytes and its
// mode. `unknown` means fstat failed and leaves errno set.
InputKind inspect_input(int fd, std::int64_t& size, mode_t& mode);

// True when `stream` was read to its end and that end lay at `size` bytes,
// i.e. the file did not grow or shrink while it was being read.
bool ended_at(std::FILE* stream, std::int64_t size);

}  // namespace programs
