// Fixed tables that the kernel may back with one 2 MiB page instead of up to
// 512 small ones. Each small page costs a fault on first touch, and on a
// virtual machine a few hundred faults take longer than converting or
// restoring a 100 KB file.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

namespace lzw {

inline constexpr std::size_t HUGE_PAGE = std::size_t{2} << 20;

// Room for tables of up to HUGE_PAGE bytes, wherever the linker puts it: a
// whole aligned huge page always lies within.
using HugePageRoom = std::uint8_t[2 * HUGE_PAGE];

// The aligned huge page within `room`, advised as such; where the kernel
// does not oblige, it is plain memory all the same.
inline std::uint8_t* huge_page_in(HugePageRoom& room) {
    const auto start = reinterpret_cast<std::uintptr_t>(room);
    std::uint8_t* page = room + ((HUGE_PAGE - start % HUGE_PAGE) % HUGE_PAGE);
    ::madvise(page, HUGE_PAGE, MADV_HUGEPAGE);
    return page;
}

}  // namespace lzw
