// The words for what is wrong with a .bk file: unmornak's, and the same for
// every caller that reports on .bk files.
//
// A fault's byte is where the decoder or the verifier found it, which may lie
// far past the damage: a changed bit can still read as codes that restore
// other bytes for a long way before one of them makes no sense. Words that
// give such a byte say "found at"; the header's faults and a stream that
// ends too soon name the byte where the file really ends or what the header
// really holds.
#include <cinttypes>
#include <cstdio>

#include "mornak.h"

namespace {

// snprintf's result as a size; a pattern that fails to format gives nothing.
std::size_t written(int length) { return length < 0 ? 0 : static_cast<std::size_t>(length); }

}  // namespace

extern "C" {

size_t mornak_fault_text(const mornak_fault* fault, uint64_t bk_size, uint64_t length, char* text,
                         size_t capacity) {
    if (text == nullptr) {
        capacity = 0;
    }
    if (fault == nullptr) {
        return written(std::snprintf(text, capacity, "%s", mornak_status_name(MORNAK_ERROR_NULL)));
    }
    const std::uint64_t at = fault->at_byte;
    switch (fault->status) {
        case MORNAK_OK:
            return written(std::snprintf(text, capacity, "%s", ""));
        case MORNAK_ERROR_HEADER_CUT:
            return written(std::snprintf(text, capacity,
                                         "damaged: the file ends at byte %" PRIu64 ", inside the %d-byte header", at,
                                         MORNAK_HEADER_BYTES));
        case MORNAK_ERROR_NOT_BK:
            return written(std::snprintf(text, capacity, "%s", "not a .bk file: no \"book\" at byte 0"));
        case MORNAK_ERROR_NEGATIVE_LENGTH:
            return written(std::snprintf(text, capacity, "%s", "damaged: the length at byte 4 is negative"));
        case MORNAK_ERROR_UNDEFINED_CODE:
            return written(std::snprintf(text, capacity, "damaged: code %" PRIu32 ", found at byte %" PRIu64
                                                         ", names no entry yet",
                                         fault->code, at));
        case MORNAK_ERROR_MISPLACED_CLEAR:
            return written(std::snprintf(text, capacity,
                                         "damaged: CLEAR_CODE, found at byte %" PRIu64
                                         ", comes before the dictionary is full",
                                         at));
        case MORNAK_ERROR_NO_END_CODE:
            return written(
                std::snprintf(text, capacity, "damaged: the stream ends at byte %" PRIu64 " before END_CODE", at));
        case MORNAK_ERROR_SHORT_FILLER:
            return written(std::snprintf(
                text, capacity, "damaged: the stream ends at byte %" PRIu64 " inside the closing zero codes", at));
        case MORNAK_ERROR_FILLER_NOT_ZERO:
            return written(std::snprintf(text, capacity,
                                         "damaged: the closing codes found at byte %" PRIu64
                                         ", after END_CODE, are not zero",
                                         at));
        case MORNAK_ERROR_TRAILING_BYTES:
            return written(std::snprintf(text, capacity,
                                         "damaged: %" PRIu64 " bytes after the end of the stream, which was found at "
                                         "byte %" PRIu64,
                                         bk_size - at, at));
        case MORNAK_ERROR_LONGER_THAN_HEADER:
            return written(std::snprintf(text, capacity,
                                         "damaged: code %" PRIu32 ", found at byte %" PRIu64
                                         ", restores more than the %" PRIu64 " bytes the header gives",
                                         fault->code, at, length));
        case MORNAK_ERROR_SHORTER_THAN_HEADER:
            return written(std::snprintf(text, capacity,
                                         "damaged: END_CODE found at byte %" PRIu64 " after %" PRIu64
                                         " bytes, but the header gives %" PRIu64,
                                         at, fault->restored, length));
        case MORNAK_ERROR_NOT_CANONICAL:
            return written(std::snprintf(text, capacity,
                                         "damaged: restores whole, but differs from what mornak writes for those "
                                         "bytes; the first difference was found at byte %" PRIu64,
                                         at));
        default:
            return written(std::snprintf(text, capacity, "%s", mornak_status_name(fault->status)));
    }
}

}  // extern "C"
