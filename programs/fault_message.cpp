#include "programs/fault_message.hpp"

#include <cstdarg>
#include <cstdio>

namespace programs {

namespace {

[[gnu::format(printf, 1, 2)]] std::string format(const char* pattern, ...) {
    char text[256];
    std::va_list arguments;
    va_start(arguments, pattern);
    std::vsnprintf(text, sizeof text, pattern, arguments);
    va_end(arguments);
    return text;
}

}  // namespace

std::string fault_message(const mornak_fault& f, std::uint64_t file_size, std::uint64_t length) {
    const auto at = static_cast<unsigned long long>(f.at_byte);
    const auto claimed = static_cast<unsigned long long>(length);
    switch (f.status) {
        case MORNAK_ERROR_HEADER_CUT:
            return format("damaged: the file ends at byte %llu, inside the %d-byte header", at, MORNAK_HEADER_BYTES);
        case MORNAK_ERROR_NOT_BK:
            return "not a .bk file: no \"book\" at byte 0";
        case MORNAK_ERROR_NEGATIVE_LENGTH:
            return "damaged: the length at byte 4 is negative";
        case MORNAK_ERROR_UNDEFINED_CODE:
            return format("damaged: code %u at byte %llu names no entry yet", f.code, at);
        case MORNAK_ERROR_MISPLACED_CLEAR:
            return format("damaged: CLEAR_CODE at byte %llu comes before the dictionary is full", at);
        case MORNAK_ERROR_NO_END_CODE:
            return format("damaged: the stream ends at byte %llu before END_CODE", at);
        case MORNAK_ERROR_SHORT_FILLER:
            return format("damaged: the stream ends at byte %llu inside the closing zero codes", at);
        case MORNAK_ERROR_FILLER_NOT_ZERO:
            return format("damaged: the closing codes after END_CODE at byte %llu are not zero", at);
        case MORNAK_ERROR_TRAILING_BYTES:
            return format("damaged: %llu bytes after the end of the stream, from byte %llu",
                          static_cast<unsigned long long>(file_size) - at, at);
        case MORNAK_ERROR_LONGER_THAN_HEADER:
            return format("damaged: code %u at byte %llu restores more than the %llu bytes the header gives", f.code,
                          at, claimed);
        case MORNAK_ERROR_SHORTER_THAN_HEADER:
            return format("damaged: END_CODE at byte %llu after %llu bytes, but the header gives %llu", at,
                          static_cast<unsigned long long>(f.restored), claimed);
        case MORNAK_ERROR_NOT_CANONICAL:
            return format("damaged: restores whole, but from byte %llu differs from what mornak writes for those bytes",
                          at);
        default:
            return mornak_status_name(f.status);
    }
}

}  // namespace programs
