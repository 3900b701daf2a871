// Opening the file a program reads, the same way in both: open, then a
// stream on it, then what it is. Each program says a failure in its own words.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <memory>

namespace programs {

struct CloseStream {
    void operator()(std::FILE* stream) const { std::fclose(stream); }
};

struct InputFile {
    enum class Kind { regular, folder, other, failed };
    enum class Step { open, fdopen, fstat };

    Kind kind = Kind::failed;
    Step failed_step = Step::open;  // when `failed`: the step that failed, with
    int error = 0;                  // its errno
    std::int64_t size = 0;          // bytes, of a regular file when it was opened
    mode_t mode = 0;                // of a regular file
    dev_t device = 0;               // with `inode`, which file it is, of a regular file
    ino_t inode = 0;
    // Open for reading from the start unless open or fdopen failed; closed
    // with the InputFile.
    std::unique_ptr<std::FILE, CloseStream> stream;

    // True when the stream was read to its end and that end lay at `size`
    // bytes, i.e. the file did not grow or shrink while it was being read.
    bool ended_at_size() const;
    // For a file read without the stream (mapped): 0 while its size is
    // still `size`, -1 once it is not, or the errno of a failed look.
    int size_now() const;

    // True when `path`, links followed, is this very file (a regular one)
    // under any name: the same path, a hard link, or a symbolic link to it.
    // A path that cannot be looked up is not this file, which is open.
    bool is_named(const char* path) const;
    // True when the descriptor `fd` has this very file open.
    bool is_open_as(int fd) const;
};

// Opens `path` read-only. A FIFO is opened without blocking, so one with no
// writer cannot hang the run before it is refused.
InputFile open_input(const char* path);

}  // namespace programs
