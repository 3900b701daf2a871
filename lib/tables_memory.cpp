#include "tables_memory.hpp"

#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace mornak {

void* allocate_tables() {
#if defined(__linux__)
    // Aligned to the huge page, so that the whole block can be one.
    void* tables = std::aligned_alloc(TABLES_BYTES, TABLES_BYTES);
    if (tables != nullptr) {
        // Advice only: where the kernel does not oblige, small pages serve.
        ::madvise(tables, TABLES_BYTES, MADV_HUGEPAGE);
    }
    return tables;
#else
    return std::malloc(TABLES_BYTES);
#endif
}

void free_tables(void* tables) { std::free(tables); }

}  // namespace mornak
