#include "programs/mapped_file.hpp"

#include <sys/mman.h>

namespace programs {

MappedFile::MappedFile(int fd, std::uint64_t size) {
    if (size == 0 || size > SIZE_MAX) {
        return;
    }
    // Populated at once: one call maps every page, where faulting them in
    // one by one costs more than scanning them.
    void* data = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_SHARED | MAP_POPULATE, fd, 0);
    if (data != MAP_FAILED) {
        data_ = static_cast<const std::uint8_t*>(data);
        size_ = static_cast<std::size_t>(size);
    }
}

MappedFile::~MappedFile() {
    if (data_ != nullptr) {
        ::munmap(const_cast<std::uint8_t*>(data_), size_);
    }
}

}  // namespace programs
