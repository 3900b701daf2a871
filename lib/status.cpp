// The library's version and the names of its statuses.
#include "mornak.h"

extern "C" {

unsigned mornak_version(void) { return MORNAK_VERSION_NUMBER; }

const char* mornak_status_name(mornak_status status) {
    switch (status) {
        case MORNAK_OK: return "MORNAK_OK";
        case MORNAK_MORE: return "MORNAK_MORE";
        case MORNAK_ERROR_NULL: return "MORNAK_ERROR_NULL";
        case MORNAK_ERROR_ARGUMENT: return "MORNAK_ERROR_ARGUMENT";
        case MORNAK_ERROR_ORDER: return "MORNAK_ERROR_ORDER";
        case MORNAK_ERROR_MEMORY: return "MORNAK_ERROR_MEMORY";
        case MORNAK_ERROR_DST_TOO_SMALL: return "MORNAK_ERROR_DST_TOO_SMALL";
        case MORNAK_ERROR_TOO_LARGE: return "MORNAK_ERROR_TOO_LARGE";
        case MORNAK_ERROR_INPUT_LONGER: return "MORNAK_ERROR_INPUT_LONGER";
        case MORNAK_ERROR_INPUT_SHORTER: return "MORNAK_ERROR_INPUT_SHORTER";
        case MORNAK_ERROR_HEADER_CUT: return "MORNAK_ERROR_HEADER_CUT";
        case MORNAK_ERROR_NOT_BK: return "MORNAK_ERROR_NOT_BK";
        case MORNAK_ERROR_NEGATIVE_LENGTH: return "MORNAK_ERROR_NEGATIVE_LENGTH";
        case MORNAK_ERROR_UNDEFINED_CODE: return "MORNAK_ERROR_UNDEFINED_CODE";
        case MORNAK_ERROR_MISPLACED_CLEAR: return "MORNAK_ERROR_MISPLACED_CLEAR";
        case MORNAK_ERROR_NO_END_CODE: return "MORNAK_ERROR_NO_END_CODE";
        case MORNAK_ERROR_SHORT_FILLER: return "MORNAK_ERROR_SHORT_FILLER";
        case MORNAK_ERROR_FILLER_NOT_ZERO: return "MORNAK_ERROR_FILLER_NOT_ZERO";
        case MORNAK_ERROR_TRAILING_BYTES: return "MORNAK_ERROR_TRAILING_BYTES";
        case MORNAK_ERROR_LONGER_THAN_HEADER: return "MORNAK_ERROR_LONGER_THAN_HEADER";
        case MORNAK_ERROR_SHORTER_THAN_HEADER: return "MORNAK_ERROR_SHORTER_THAN_HEADER";
        case MORNAK_ERROR_NOT_CANONICAL: return "MORNAK_ERROR_NOT_CANONICAL";
    }
    return "MORNAK_UNKNOWN_STATUS";
}

}  // extern "C"
