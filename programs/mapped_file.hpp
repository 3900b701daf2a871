// A file's bytes mapped into memory, read-only, for the work that needs
// all of them at hand (finding restart points, restoring segments on
// threads, listing). Its pages are the system's file cache, not the
// program's memory. A file cut short meanwhile ends the process by SIGBUS,
// which the signal policy cleans up after like any other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace programs {

class MappedFile {
public:
    // Maps `size` bytes of the open file `fd`; empty when it cannot.
    MappedFile(int fd, std::uint64_t size);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    std::span<const std::uint8_t> bytes() const { return {data_, size_}; }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace programs
