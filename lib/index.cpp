// Restart points: where the stream starts a fresh dictionary, found without
// restoring a byte. The pass reads every code and keeps only the length of
// each entry's string, which gives each point's place in the content; it
// makes every check the decoder makes, in the same order, so a stream it
// cannot step through fails with the decoder's status, byte and code.
#include <cstdlib>
#include <cstring>

#include "format.hpp"
#include "mornak.h"

namespace {

using namespace mornak;

// Stream bits of the shortest dictionary that ends with a CLEAR_CODE: one
// may only come once the dictionary is full, after 65,278 data codes at the
// widths they take, and it is 16 bits wide itself.
constexpr std::uint64_t shortest_dictionary_bits() {
    std::uint64_t bits = 0;
    int width = INITIAL_CODE_BITS;
    for (std::uint32_t next = FIRST_FREE_CODE - 1; next < CODE_LIMIT - 1; ++next) {
        bits += static_cast<std::uint64_t>(width);
        if (next + 1 >= (1u << width) - 1 && width < MAX_CODE_BITS) {
            ++width;
        }
    }
    return bits + MAX_CODE_BITS;
}
constexpr std::uint64_t SHORTEST_DICTIONARY_BITS = shortest_dictionary_bits();
static_assert(SHORTEST_DICTIONARY_BITS == 982250 + 16);

// Closing codes at 17 bits: END_CODE and three zero codes.
constexpr std::uint64_t CLOSING_BITS_AT_17 = 4 * 17;
constexpr std::uint32_t OLD_EMPTY_MARK = (1u << INITIAL_CODE_BITS) - 1;

// The pass over one stream. Bits count from the first one after the header.
struct Pass {
    const std::uint8_t* stream;
    std::uint64_t stream_bits;
    std::uint64_t expected;     // the header's length
    std::uint16_t* lengths;     // CODE_LIMIT entries: string lengths, literals 1
    mornak_point* points;
    std::size_t capacity;
    std::size_t count = 0;
    std::uint64_t bit = 0;
    std::uint64_t restored = 0;
    int width = INITIAL_CODE_BITS;
    std::uint32_t next = FIRST_FREE_CODE;
    bool fresh = true;          // no data code since the start or the last CLEAR_CODE
    std::uint32_t previous_length = 0;
    mornak_status fault = MORNAK_OK;
    std::uint64_t fault_bit = 0;
    std::uint32_t fault_code = 0;
};

// Stream bits [bit, bit + width), width at most 57, with zeros past the end.
std::uint64_t bits_at(const Pass& p, std::uint64_t bit, int width) {
    const std::uint64_t bytes = (p.stream_bits + 7) / 8;
    std::uint64_t word = 0;
    for (std::uint64_t i = 0, byte = bit / 8; i < 8 && byte + i < bytes; ++i) {
        word |= std::uint64_t{p.stream[byte + i]} << (56 - 8 * i);
    }
    return (word << (bit % 8)) >> (64 - width);
}

bool fail(Pass& p, mornak_status fault, std::uint64_t at_bit, std::uint32_t code = 0) {
    p.fault = fault;
    p.fault_bit = at_bit;
    p.fault_code = code;
    return false;
}

bool add_point(Pass& p) {
    if (p.count == p.capacity) {
        return fail(p, MORNAK_ERROR_DST_TOO_SMALL, p.bit);
    }
    p.points[p.count++] = {8 * HEADER_BYTES + p.bit, p.restored};
    return true;
}

// What follows END_CODE: three zero codes at its width, of which the last
// (fewer than 8) bits were never stored, and nothing after them.
bool check_closing(Pass& p, std::uint64_t end_code_bit) {
    const std::uint64_t rest = p.stream_bits - p.bit;
    const auto filler = static_cast<std::uint64_t>(3 * p.width);
    if (rest > filler) {
        return fail(p, MORNAK_ERROR_TRAILING_BYTES, (p.bit + filler) / 8 * 8);
    }
    if (rest + 8 <= filler) {
        return fail(p, MORNAK_ERROR_SHORT_FILLER, p.stream_bits);
    }
    if (rest != 0 && bits_at(p, p.bit, static_cast<int>(rest)) != 0) {
        return fail(p, MORNAK_ERROR_FILLER_NOT_ZERO, p.bit);
    }
    if (p.restored != p.expected) {
        return fail(p, MORNAK_ERROR_SHORTER_THAN_HEADER, end_code_bit);
    }
    return false;
}

// One code, any code: false once the stream has ended, at END_CODE or a fault.
bool step(Pass& p) {
    if (p.stream_bits - p.bit < static_cast<std::uint64_t>(p.width)) {
        return fail(p, MORNAK_ERROR_NO_END_CODE, p.stream_bits);
    }
    const std::uint64_t start = p.bit;
    const auto code = static_cast<std::uint32_t>(bits_at(p, start, p.width));
    p.bit += static_cast<std::uint64_t>(p.width);
    std::uint32_t length;
    if (code < CLEAR_CODE || (code >= FIRST_FREE_CODE && code < p.next)) {
        length = p.lengths[code];
    } else if (code == p.next && !p.fresh && p.next < CODE_LIMIT) {
        length = p.previous_length + 1;
    } else if (code == END_CODE) {
        return check_closing(p, start);
    } else if (code == CLEAR_CODE) {
        if (p.width != MAX_CODE_BITS || p.next < CODE_LIMIT - 1) {
            return fail(p, MORNAK_ERROR_MISPLACED_CLEAR, start, code);
        }
        p.width = INITIAL_CODE_BITS;
        p.next = FIRST_FREE_CODE;
        p.fresh = true;
        return add_point(p);
    } else if (code == OLD_EMPTY_MARK && start == 0 && p.expected == 0) {
        return true;
    } else {
        return fail(p, MORNAK_ERROR_UNDEFINED_CODE, start, code);
    }
    if (p.restored + length > p.expected) {
        return fail(p, MORNAK_ERROR_LONGER_THAN_HEADER, start, code);
    }
    if (!p.fresh && p.next < CODE_LIMIT) {
        p.lengths[p.next++] = static_cast<std::uint16_t>(p.previous_length + 1);
    }
    p.restored += length;
    p.previous_length = length;
    p.fresh = false;
    if (p.next >= (1u << p.width) - 1) {
        const std::uint64_t left = p.stream_bits - p.bit;
        if (p.width < MAX_CODE_BITS) {
            ++p.width;
        } else if (p.next == CODE_LIMIT - 1 && left <= CLOSING_BITS_AT_17 && left >= 17 &&
                   bits_at(p, p.bit, 17) == END_CODE) {
            p.width = 17;  // the closing codes after a last 16-bit code
        }
    }
    return true;
}

// Data codes far from the end, in a loop of its own: stops before the first
// code that is not one, or would restore past the header's length, or when
// fewer than 128 bits are left (where the closing width is decided and the
// 8-byte loads would run past the end).
void fast_steps(Pass& p) {
    if (p.fresh) {
        return;
    }
    const std::uint8_t* const stream = p.stream;
    const std::uint64_t stop = p.stream_bits < 128 ? 0 : p.stream_bits - 128;
    std::uint16_t* const lengths = p.lengths;
    std::uint64_t bit = p.bit, restored = p.restored;
    std::uint32_t next = p.next, previous_length = p.previous_length;
    int width = p.width;
    const std::uint64_t expected = p.expected;
    while (bit < stop) {
        std::uint64_t word;
        std::memcpy(&word, stream + bit / 8, 8);
        word = __builtin_bswap64(word) << (bit % 8);
        const auto code = static_cast<std::uint32_t>(word >> (64 - width));
        std::uint32_t length;
        if ((code < next) & (code - CLEAR_CODE > END_CODE - CLEAR_CODE)) {
            length = lengths[code];
        } else if (code == next && next < CODE_LIMIT) {
            length = previous_length + 1;
        } else {
            break;
        }
        if (restored + length > expected) {
            break;
        }
        bit += static_cast<std::uint64_t>(width);
        if (next < CODE_LIMIT) {
            lengths[next++] = static_cast<std::uint16_t>(previous_length + 1);
            if (next >= (1u << width) - 1 && width < MAX_CODE_BITS) {
                ++width;
            }
        }
        restored += length;
        previous_length = length;
    }
    p.bit = bit;
    p.restored = restored;
    p.next = next;
    p.previous_length = previous_length;
    p.width = width;
}

}  // namespace

extern "C" {

size_t mornak_index_bound(size_t bk_size) {
    if (bk_size <= HEADER_BYTES) {
        return 1;
    }
    return 1 + (bk_size - HEADER_BYTES) / (SHORTEST_DICTIONARY_BITS / 8);
}

mornak_status mornak_index_with_fault(const void* bk, size_t bk_size, mornak_point* points, size_t capacity,
                                      size_t* count, mornak_fault* fault) {
    if (fault != nullptr) {
        *fault = mornak_fault{MORNAK_OK, 0, 0, 0};
    }
    if (count == nullptr || (bk == nullptr && bk_size != 0) || (points == nullptr && capacity != 0)) {
        if (fault != nullptr) {
            fault->status = MORNAK_ERROR_NULL;
        }
        return MORNAK_ERROR_NULL;
    }
    *count = 0;
    const auto* bytes = static_cast<const std::uint8_t*>(bk);
    mornak_status status = MORNAK_OK;
    std::uint32_t length = 0;
    if (bk_size < HEADER_BYTES) {
        status = MORNAK_ERROR_HEADER_CUT;
    } else {
        std::uint8_t header[HEADER_BYTES];
        std::memcpy(header, bytes, HEADER_BYTES);
        status = parse_header(header, length);
    }
    if (status != MORNAK_OK) {
        if (fault != nullptr) {
            fault->status = status;
            fault->at_byte = status == MORNAK_ERROR_HEADER_CUT ? bk_size : status == MORNAK_ERROR_NOT_BK ? 0 : 4;
        }
        return status;
    }
    auto* lengths = static_cast<std::uint16_t*>(std::malloc(CODE_LIMIT * sizeof(std::uint16_t)));
    if (lengths == nullptr) {
        if (fault != nullptr) {
            fault->status = MORNAK_ERROR_MEMORY;
        }
        return MORNAK_ERROR_MEMORY;
    }
    for (std::uint32_t c = 0; c < CLEAR_CODE; ++c) {
        lengths[c] = 1;
    }
    Pass p{bytes + HEADER_BYTES, 8 * std::uint64_t{bk_size - HEADER_BYTES}, length, lengths, points, capacity};
    if (add_point(p)) {
        do {
            fast_steps(p);
        } while (step(p));
    }
    std::free(lengths);
    *count = p.count;
    if (fault != nullptr) {
        *fault = mornak_fault{p.fault, p.fault == MORNAK_OK ? 0 : HEADER_BYTES + p.fault_bit / 8, p.fault_code,
                              p.restored};
    }
    return p.fault;
}

mornak_status mornak_index(const void* bk, size_t bk_size, mornak_point* points, size_t capacity, size_t* count) {
    return mornak_index_with_fault(bk, bk_size, points, capacity, count, nullptr);
}

mornak_status mornak_scan_points(const void* bk, size_t bk_size, mornak_point* points, size_t capacity,
                                 size_t* count) {
    if (count == nullptr || (bk == nullptr && bk_size != 0) || (points == nullptr && capacity != 0)) {
        return MORNAK_ERROR_NULL;
    }
    *count = 0;
    std::uint64_t length = 0;
    if (const mornak_status header = mornak_content_size(bk, bk_size, &length); header != MORNAK_OK) {
        return header;
    }
    if (capacity == 0) {
        return MORNAK_ERROR_DST_TOO_SMALL;
    }
    points[(*count)++] = {8 * HEADER_BYTES, 0};
    const auto* stream = static_cast<const std::uint8_t*>(bk) + HEADER_BYTES;
    const std::uint64_t stream_bits = 8 * std::uint64_t{bk_size - HEADER_BYTES};
    // A CLEAR_CODE in the last bits is not looked for: there the grid of
    // 16-bit codes may run over the closing codes of a dictionary that ended
    // early. Missing a point only makes a segment longer.
    constexpr std::uint64_t END_ZONE = 128;
    if (stream_bits < END_ZONE) {
        return MORNAK_OK;
    }
    const std::uint64_t last = stream_bits - END_ZONE;
    std::uint64_t bit = SHORTEST_DICTIONARY_BITS - MAX_CODE_BITS;  // past the codes no CLEAR_CODE can be among
    while (bit <= last) {
        std::uint64_t word;
        std::memcpy(&word, stream + bit / 8, 8);
        word = __builtin_bswap64(word) << (bit % 8);
        // Three 16-bit codes at once: none of them 256 or 257 is the common case.
        constexpr std::uint64_t LANES = 0x000100010001;
        const std::uint64_t three = (word >> 16 ^ (CLEAR_CODE * LANES)) & (0xFFFE * LANES);
        if (bit + 2 * MAX_CODE_BITS <= last && ((three - LANES) & ~three & (0x8000 * LANES)) == 0) {
            bit += 3 * MAX_CODE_BITS;
            continue;
        }
        const auto code = static_cast<std::uint32_t>(word >> 48);
        bit += MAX_CODE_BITS;
        if (code == END_CODE) {
            break;
        }
        if (code == CLEAR_CODE) {
            if (*count == capacity) {
                return MORNAK_ERROR_DST_TOO_SMALL;
            }
            points[(*count)++] = {8 * HEADER_BYTES + bit, MORNAK_OFFSET_UNKNOWN};
            bit += SHORTEST_DICTIONARY_BITS - MAX_CODE_BITS;
        }
    }
    return MORNAK_OK;
}

}  // extern "C"
