// Where a context's tables live: one block taken at create and given back
// at free, never resized.
//
// On Linux the block is a 2 MiB huge page where the kernel allows it. Each
// small page costs a fault on first touch, and on a virtual machine a few
// hundred faults take longer than converting or restoring a 100 KB file.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>

namespace mornak {

inline constexpr std::size_t TABLES_BYTES = std::size_t{2} << 20;  // 2 MiB, one huge page

// TABLES_BYTES of memory, aligned to its size where that helps; null when
// the system has none to give. The contents are undefined.
void* allocate_tables();
void free_tables(void* tables);

// A context of type T from malloc, so that the library needs nothing of the
// C++ run-time library; null when there is no memory.
template <typename T>
T* new_context() {
    void* memory = std::malloc(sizeof(T));
    return memory == nullptr ? nullptr : new (memory) T{};
}

template <typename T>
void delete_context(T* context) {
    context->~T();
    std::free(context);
}

}  // namespace mornak
