/* mornak.h: the .bk codec as a library.
 *
 * A .bk file is the four bytes "book", the length of the original data as a
 * signed 32-bit little-endian number, and an adaptive LZW code stream: codes
 * 11 to 16 bits wide, packed most significant bit first, a fresh dictionary
 * whenever the compression ratio gets worse once the dictionary is full.
 *
 * Two ways in:
 *   - one-shot calls on whole buffers: mornak_compress, mornak_decompress,
 *     mornak_verify, mornak_content_size;
 *   - streaming contexts that take input and give output in chunks of any
 *     size: mornak_encoder, mornak_decoder, mornak_verifier. Any chunking
 *     gives exactly the bytes of the one-shot calls.
 *
 * Threads: the library has no global or static mutable state. Any number of
 * contexts may live in one process and run on any threads; one context is
 * used by one thread at a time. The one-shot calls may run on any number of
 * threads at once.
 *
 * Memory: a context takes all its memory at create (sizes below) and
 * allocates nothing afterwards; begin makes it ready for a new stream, so a
 * context serves any number of streams. A one-shot call creates and frees one
 * context. The header's length never decides how much memory is used.
 * The caller owns every buffer it passes; no call keeps a pointer to one
 * after it returns (only the progress callback's user pointer is kept).
 *
 * Errors: every call that can fail returns a status. MORNAK_OK and
 * MORNAK_MORE are not errors; every error is negative and names one fault. An
 * error is sticky: a context that returned one returns it again, before it
 * looks at the call, until the next begin. Null pointers and calls out of
 * order are errors, never crashes; a call with several faults reports the
 * first of: a missing pointer, a position past its size, no data for a
 * size, a call out of order.
 *
 * The library never prints, reads or writes a file, and never touches
 * signals, the environment or the process.
 *
 * C99 and C++. Link with -lmornak (pkg-config mornak, or CMake's
 * find_package(mornak) and the target mornak::mornak).
 */
#ifndef MORNAK_H
#define MORNAK_H

#include <stddef.h>
#include <stdint.h>

/* The one place the version is written: the build takes it from here. */
#define MORNAK_VERSION_MAJOR 1
#define MORNAK_VERSION_MINOR 6
#define MORNAK_VERSION_PATCH 0
/* MAJOR * 10000 + MINOR * 100 + PATCH, as mornak_version() returns it. */
#define MORNAK_VERSION_NUMBER \
    (MORNAK_VERSION_MAJOR * 10000 + MORNAK_VERSION_MINOR * 100 + MORNAK_VERSION_PATCH)

/* "book" and the length: the first bytes of every .bk file. */
#define MORNAK_HEADER_BYTES 8
/* For mornak_encoder_begin: the input's length is not known in advance. */
#define MORNAK_SIZE_UNKNOWN (-1)
/* The most bytes a .bk header can describe (2^31 - 1). */
#define MORNAK_MAX_INPUT 2147483647

#if defined(MORNAK_STATIC)
#define MORNAK_API
#elif defined(__GNUC__) || defined(__clang__)
#define MORNAK_API __attribute__((visibility("default")))
#else
#define MORNAK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The version of the library linked at run time, as MORNAK_VERSION_NUMBER. */
MORNAK_API unsigned mornak_version(void);

typedef enum mornak_status {
    MORNAK_OK = 0,   /* done: the whole stream is out */
    MORNAK_MORE = 1, /* call again with more input (or finish) or more output room */

    /* Misuse. */
    MORNAK_ERROR_NULL = -1,          /* a pointer that must not be null is */
    MORNAK_ERROR_ARGUMENT = -2,      /* a position past its size, or a size below MORNAK_SIZE_UNKNOWN */
    MORNAK_ERROR_ORDER = -3,         /* a call out of order: run before begin, input or no finish after a
                                        finish, the header of an unfinished stream */
    MORNAK_ERROR_MEMORY = -4,        /* a one-shot call could not allocate its context */
    MORNAK_ERROR_DST_TOO_SMALL = -5, /* a one-shot call's destination cannot hold the result */

    /* What the encoder is given. */
    MORNAK_ERROR_TOO_LARGE = -6,     /* more than MORNAK_MAX_INPUT bytes */
    MORNAK_ERROR_INPUT_LONGER = -7,  /* more bytes than the size given to begin */
    MORNAK_ERROR_INPUT_SHORTER = -8, /* finish came before the size given to begin */

    /* What is wrong with a .bk file (decoder, verifier, one-shot calls). */
    MORNAK_ERROR_HEADER_CUT = -9,          /* the data ends inside the 8-byte header */
    MORNAK_ERROR_NOT_BK = -10,             /* no "book" at byte 0 */
    MORNAK_ERROR_NEGATIVE_LENGTH = -11,    /* the length at byte 4 is negative (an unpatched
                                              MORNAK_SIZE_UNKNOWN header among them) */
    MORNAK_ERROR_UNDEFINED_CODE = -12,     /* a code that names no dictionary entry yet */
    MORNAK_ERROR_MISPLACED_CLEAR = -13,    /* CLEAR_CODE (256) before the dictionary is full */
    MORNAK_ERROR_NO_END_CODE = -14,        /* the stream ends before END_CODE (257) */
    MORNAK_ERROR_SHORT_FILLER = -15,       /* the stream ends inside the zero codes after END_CODE */
    MORNAK_ERROR_FILLER_NOT_ZERO = -16,    /* something other than zero codes after END_CODE */
    MORNAK_ERROR_TRAILING_BYTES = -17,     /* bytes after the end of the stream */
    MORNAK_ERROR_LONGER_THAN_HEADER = -18, /* the stream restores more bytes than the header gives */
    MORNAK_ERROR_SHORTER_THAN_HEADER = -19,/* END_CODE before the header's length is reached */
    MORNAK_ERROR_NOT_CANONICAL = -20       /* restores whole, but is not what the encoder writes for
                                              those bytes (verifier only) */
} mornak_status;

/* The enumerator's name, e.g. "MORNAK_ERROR_UNDEFINED_CODE"; for a value that
 * is none of them, "MORNAK_UNKNOWN_STATUS". Never NULL; static storage. */
MORNAK_API const char* mornak_status_name(mornak_status status);

/* Input and output of the streaming calls, which read data[pos..size) and
 * write from data + pos, advancing pos. data may be NULL when size is 0. */
typedef struct mornak_in {
    const unsigned char* data;
    size_t size;
    size_t pos;
} mornak_in;

typedef struct mornak_out {
    unsigned char* data;
    size_t size;
    size_t pos;
} mornak_out;

/* Where and why a .bk stream failed. */
typedef struct mornak_fault {
    mornak_status status; /* the status the failing call returned; MORNAK_OK while there is no fault */
    uint64_t at_byte;     /* the byte of the .bk file (header included) where the fault was found; the
                             damage that caused it may lie earlier */
    uint32_t code;        /* the code concerned (undefined code, misplaced CLEAR_CODE, a code that
                             restores past the header's length); 0 otherwise */
    uint64_t restored;    /* bytes restored before the fault (all of them when there is none) */
} mornak_fault;

/* Room for the longest text mornak_fault_text gives, its terminating zero included. */
#define MORNAK_FAULT_TEXT_BYTES 160

/* What is wrong with a .bk file, in the words unmornak prints after
 * "unmornak: FILE: ", e.g. "damaged: code 1121, found at byte 8, names no
 * entry yet": the same words for every program that reports on .bk files.
 * A byte where something was found says so: the damage may lie before it.
 * fault is as mornak_decoder_fault or mornak_verifier_fault gave it;
 * bk_size is the file's size in bytes (the words for
 * MORNAK_ERROR_TRAILING_BYTES count the bytes from at_byte to it) and length
 * its header's length (0 when the header itself is at fault); neither fits
 * in a mornak_fault, which callers allocate. "" for MORNAK_OK; for a status
 * that is no fault of a file, its name. Writes at most capacity bytes, the
 * terminating zero included, as snprintf does, and returns the length of
 * the whole text; text may be NULL when capacity is 0. Needs no context;
 * any thread. */
MORNAK_API size_t mornak_fault_text(const mornak_fault* fault, uint64_t bk_size, uint64_t length, char* text,
                                    size_t capacity);

/* ---- One-shot calls ------------------------------------------------------ */

/* The largest .bk that input_size bytes can give, header included: at most
 * 2 * input_size + 20. 0 when input_size is over MORNAK_MAX_INPUT (no .bk
 * can describe it); SIZE_MAX when the bound does not fit in a size_t. */
MORNAK_API size_t mornak_compress_bound(uint64_t input_size);

/* Converts src[0..src_size) into a whole .bk file at dst. On MORNAK_OK,
 * *dst_size is its length; on an error it is 0, and nothing was written at
 * or past dst + dst_capacity. Creates and frees one encoder.
 * src may be NULL when src_size is 0. */
MORNAK_API mornak_status mornak_compress(const void* src, size_t src_size, void* dst, size_t dst_capacity,
                                         size_t* dst_size);

/* The length the header of bk gives: MORNAK_ERROR_HEADER_CUT, _NOT_BK or
 * _NEGATIVE_LENGTH when it gives none. Reads only the first 8 bytes. */
MORNAK_API mornak_status mornak_content_size(const void* bk, size_t bk_size, uint64_t* size);

/* Restores the .bk file bk[0..bk_size) into dst. Fails with
 * MORNAK_ERROR_DST_TOO_SMALL before restoring anything when the header's
 * length exceeds dst_capacity; nothing is ever written past it. *dst_size
 * is the number of bytes written, on a fault those before it.
 * Creates and frees one decoder. */
MORNAK_API mornak_status mornak_decompress(const void* bk, size_t bk_size, void* dst, size_t dst_capacity,
                                           size_t* dst_size);

/* Checks that bk[0..bk_size) restores whole and is exactly what the encoder
 * writes for the bytes it restores (the earlier form of an empty input
 * passes too). MORNAK_OK, or the first fault the decoder found, else
 * MORNAK_ERROR_NOT_CANONICAL. This finds more damage than restoring does,
 * not all of it (see the streaming decoder). Creates and frees one
 * verifier. */
MORNAK_API mornak_status mornak_verify(const void* bk, size_t bk_size);

/* ---- Restart points ------------------------------------------------------
 * A .bk stream starts a fresh dictionary at every CLEAR_CODE: from there on,
 * restoring depends on nothing before it. Such a restart point is two
 * numbers, so an index of them is small (one per 120 KiB of .bk at the
 * least) and gives readers random access and callers work to spread over
 * threads: each segment, from one point to the next, restores and checks on
 * its own. */

typedef struct mornak_point {
    uint64_t bk_bit;         /* where the point's first code starts, in bits from the start of the .bk
                                file: 64 (just past the header) for the stream's start, else the bit
                                just past a CLEAR_CODE */
    uint64_t content_offset; /* the content byte that code restores first */
} mornak_point;

/* A content offset not known yet: see mornak_scan_points and
 * mornak_decoder_begin_at. */
#define MORNAK_OFFSET_UNKNOWN UINT64_MAX

/* The most points a .bk file of bk_size bytes can have: room enough for
 * mornak_index. At least 1. */
MORNAK_API size_t mornak_index_bound(size_t bk_size);

/* Finds the restart points of the .bk file bk[0..bk_size), without restoring
 * it: points[0] = {64, 0}, then one per CLEAR_CODE, in order; *count is how
 * many were written. It reads every code and makes every check the decoder
 * makes: a file the decoder would refuse fails with the decoder's status
 * (and, through mornak_index_with_fault, its byte, code and restored count),
 * and the points before the fault are written and counted. With fewer than
 * mornak_index_bound(bk_size) points of room it may fail with
 * MORNAK_ERROR_DST_TOO_SMALL. Allocates 128 KiB for the call and frees it
 * (MORNAK_ERROR_MEMORY when it cannot); any thread. points may be NULL when
 * capacity is 0. */
MORNAK_API mornak_status mornak_index(const void* bk, size_t bk_size, mornak_point* points, size_t capacity,
                                      size_t* count);

/* As mornak_index, and fills *fault (unless NULL) as mornak_decoder_fault
 * would for the same file: its restored is the content length restored
 * before the fault, or the whole length. */
MORNAK_API mornak_status mornak_index_with_fault(const void* bk, size_t bk_size, mornak_point* points,
                                                 size_t capacity, size_t* count, mornak_fault* fault);

/* The restart points of a sound .bk file, found far faster than
 * mornak_index finds them, with no check at all: most of each dictionary is
 * stepped over by arithmetic (the first 65,278 codes after a restart cannot
 * be a CLEAR_CODE) and the rest searched. Every point but the first has
 * content_offset MORNAK_OFFSET_UNKNOWN; points a last few bytes before the
 * end may be missed. In a damaged file a point may be false: each one is a
 * place to try (mornak_decoder_begin_at with one_segment set confirms it,
 * ending where the next one must be). For callers that spread restoring
 * over threads. MORNAK_ERROR_HEADER_CUT, _NOT_BK, _NEGATIVE_LENGTH as
 * mornak_content_size; MORNAK_ERROR_DST_TOO_SMALL with fewer than
 * mornak_index_bound(bk_size) points of room. Any thread; allocates
 * nothing. */
MORNAK_API mornak_status mornak_scan_points(const void* bk, size_t bk_size, mornak_point* points,
                                            size_t capacity, size_t* count);

/* ---- Streaming encoder ---------------------------------------------------
 * Memory: 2 MiB (2,097,152 bytes) of tables, placed in one huge page where
 * the system allows, plus under 1 KiB for the context itself. */

typedef struct mornak_encoder mornak_encoder;

/* NULL when the memory cannot be had. */
MORNAK_API mornak_encoder* mornak_encoder_create(void);
/* NULL is ignored. */
MORNAK_API void mornak_encoder_free(mornak_encoder* encoder);

/* Starts a new .bk stream. input_size is the exact number of bytes that will
 * follow (0 to MORNAK_MAX_INPUT), or MORNAK_SIZE_UNKNOWN: then the header's
 * length field is written as FF FF FF FF, which a reader refuses, and once
 * the stream is complete mornak_encoder_header gives the 8 bytes to put at
 * offset 0 in its place. The progress callback, if set, stays set. */
MORNAK_API mornak_status mornak_encoder_begin(mornak_encoder* encoder, int64_t input_size);

/* Takes input from in->data + in->pos, writes the .bk file, header first,
 * at out->data + out->pos, and advances both. Returns MORNAK_MORE while it
 * needs more input (without finish) or more output room, MORNAK_OK once
 * finish is set, all input is taken and the whole file is out. Set finish
 * on the call that brings the last input (or on a later call with none);
 * every call after it must set finish too and bring no new input.
 * With a size given, a byte past it is MORNAK_ERROR_INPUT_LONGER and finish
 * before it MORNAK_ERROR_INPUT_SHORTER; without one, a byte past
 * MORNAK_MAX_INPUT is MORNAK_ERROR_TOO_LARGE. Output written before an
 * error is not a .bk file: discard it. */
MORNAK_API mornak_status mornak_encoder_run(mornak_encoder* encoder, mornak_in* in, mornak_out* out, int finish);

/* The header of the stream: with a size given, at any time after begin;
 * with MORNAK_SIZE_UNKNOWN, once run has returned MORNAK_OK (before that,
 * MORNAK_ERROR_ORDER). */
MORNAK_API mornak_status mornak_encoder_header(const mornak_encoder* encoder,
                                               unsigned char header[MORNAK_HEADER_BYTES]);

/* Progress of an encoder, for a caller that shows it. */
typedef struct mornak_progress {
    uint64_t taken;            /* input bytes taken since begin */
    uint64_t written;          /* .bk bytes produced since begin, header included */
    uint32_t dictionary;       /* CLEAR_CODEs written so far: 0 while the first dictionary lasts */
    uint32_t dictionary_bytes; /* input bytes taken while this dictionary lasts, not counting the one
                                  that began it */
} mornak_progress;

/* Called during run, on the calling thread: after each 64 KiB of input,
 * once more for a dictionary that is about to be replaced by a fresh one
 * (with its final count), and when the stream is complete. It must not call
 * into the same encoder. */
typedef void (*mornak_progress_fn)(void* user, const mornak_progress* progress);

/* Sets the callback (NULL for none) and the pointer it is given. */
MORNAK_API mornak_status mornak_encoder_set_progress(mornak_encoder* encoder, mornak_progress_fn callback,
                                                     void* user);

/* ---- Streaming decoder ---------------------------------------------------
 * A .bk file has no checksum. The decoder finds these faults: a wrong
 * header, a code that names no entry yet, a CLEAR_CODE before the
 * dictionary is full, a stream that ends early, one that restores more or
 * fewer bytes than its header gives, bytes after its end, closing codes
 * that are not zero; each found at a byte, which may lie past the damage.
 * The verifier adds one check: the stream must be exactly what the encoder
 * writes for the bytes it restores. Some damage is none of these and
 * restores into other bytes without a fault, and some of that passes the
 * verifier too: a caller that must know it has the original's bytes keeps a
 * checksum of them beside the .bk file.
 * Memory: 2 MiB (2,097,152 bytes) of tables and recent output, placed in
 * one huge page where the system allows, plus under 1 KiB. */

typedef struct mornak_decoder mornak_decoder;

MORNAK_API mornak_decoder* mornak_decoder_create(void);
MORNAK_API void mornak_decoder_free(mornak_decoder* decoder);

/* Starts restoring a new .bk file, header included. */
MORNAK_API mornak_status mornak_decoder_begin(mornak_decoder* decoder);

/* Takes .bk bytes from in and writes restored bytes to out, as
 * mornak_encoder_run does. MORNAK_OK once finish is set, all input is taken,
 * the stream showed none of the faults above and every restored byte is
 * out. The decoder never writes a byte past the header's length. Some
 * faults can only be known at the end: bytes already written before one
 * are not the file. */
MORNAK_API mornak_status mornak_decoder_run(mornak_decoder* decoder, mornak_in* in, mornak_out* out, int finish);

/* As mornak_decoder_run, without a copy: instead of writing restored bytes
 * into a buffer of the caller's, points *data at the next run of them inside
 * the decoder and sets *size (0 when none is ready). A run stays valid until
 * the next call on this decoder, and is at most 1.4 MiB. Returns MORNAK_MORE
 * with a run, or with none when it needs more input; MORNAK_OK with the last
 * run (perhaps empty) once finish is set, all input is taken and the stream
 * showed no fault; or the fault, with the last bytes restored before it. The
 * two calls may be mixed on one stream. */
MORNAK_API mornak_status mornak_decoder_run_direct(mornak_decoder* decoder, mornak_in* in, int finish,
                                                   const unsigned char** data, size_t* size);

/* Room for the next .bk bytes inside the decoder itself, for a caller that
 * reads them from somewhere (a file): up to *size bytes (at most 64 KiB;
 * fewer while unread ones wait) may be written at *data and then given to the
 * next run as {*data, n, 0}, which takes them without a copy. Valid until
 * the next call on this decoder. */
MORNAK_API mornak_status mornak_decoder_input_room(mornak_decoder* decoder, unsigned char** data, size_t* size);

/* A setting, kept by every later begin (off at create): with stop set, a
 * stream ends at its own end instead of at the end of the input. As soon as
 * END_CODE and the closing bits stored after it are in, run and run_direct
 * return MORNAK_OK (once every restored byte is out) without finish being
 * set and whatever input follows: bytes after the stream are not
 * MORNAK_ERROR_TRAILING_BYTES but left to the caller, in in->data from
 * in->pos on and in what mornak_decoder_unused gives. Every other fault is
 * found, though not always named as without the setting: where bytes follow
 * the stream its stored filler is checked before them, and after the
 * dictionary's last 16-bit code the closing codes' width is decided by the
 * header's length, not by where the input ends. A stream cut short still
 * needs finish to be found so. For readers of .bk files stored one after another or inside
 * another format. */
MORNAK_API mornak_status mornak_decoder_stop_at_end(mornak_decoder* decoder, int stop);

/* After a stream that stopped at its end: the bytes the decoder took from
 * the caller's input past the stream's last byte (at most 65,544), which
 * come before in->data[in->pos...] of the last run. Sets *size to their
 * number and copies them to dst when capacity is at least that, else
 * MORNAK_ERROR_DST_TOO_SMALL (dst may be NULL with capacity 0 to ask the
 * size). MORNAK_ERROR_ORDER before such a stream returned MORNAK_OK. */
MORNAK_API mornak_status mornak_decoder_unused(const mornak_decoder* decoder, void* dst, size_t capacity,
                                               size_t* size);

/* Starts restoring at a restart point, as begin does at the start: header
 * is the file's first 8 bytes, point one that mornak_index (or
 * mornak_scan_points) gave for it. Give run / run_direct the file's bytes
 * from byte point->bk_bit / 8 on; the bits of that byte before the point
 * are skipped. point->content_offset places what it restores in the
 * content, for the length checks; MORNAK_OFFSET_UNKNOWN leaves those to
 * the caller (nothing is measured against the header's length, and
 * restored counts from the point). With one_segment set, the stream ends
 * with MORNAK_OK right after the next CLEAR_CODE, whatever input is left
 * (unless the stream ends there, with no room for a code after it: that is
 * MORNAK_ERROR_NO_END_CODE, as restoring from the start finds);
 * mornak_decoder_position then gives the next point. Faults are found at
 * the same bytes as when restoring from the start. */
MORNAK_API mornak_status mornak_decoder_begin_at(mornak_decoder* decoder,
                                                 const unsigned char header[MORNAK_HEADER_BYTES],
                                                 const mornak_point* point, int one_segment);

/* Where the stream stands: the bit of the next code to read (from the start
 * of the file) and the content bytes restored before it. After a segment
 * ended, the restart point that follows it. MORNAK_ERROR_ORDER before any
 * begin. */
MORNAK_API mornak_status mornak_decoder_position(const mornak_decoder* decoder, mornak_point* point);

/* Content bytes [offset, offset + length) of the .bk file bk[0..bk_size),
 * clipped at the content's end, into dst: exactly what mornak_decompress
 * gives there. Restores from the last point of the index at or before
 * offset, and only as far as needed. points[0..count) is the file's index
 * from mornak_index; one that is not (it does not start at {64, 0}, or the
 * point used does not follow a CLEAR_CODE, lies outside the file or out of
 * order) is MORNAK_ERROR_ARGUMENT, and nothing is ever read outside bk.
 * *got is the number of bytes written: all of them on MORNAK_OK, those
 * before the fault on a fault inside the span (mornak_decoder_fault gives
 * its place). Replaces the decoder's stream: begin before running it
 * again. */
MORNAK_API mornak_status mornak_decoder_read_at(mornak_decoder* decoder, const void* bk, size_t bk_size,
                                                const mornak_point* points, size_t count, uint64_t offset,
                                                void* dst, size_t length, size_t* got);

/* The fault that ended the stream, or MORNAK_OK with the bytes restored so far. */
MORNAK_API void mornak_decoder_fault(const mornak_decoder* decoder, mornak_fault* fault);

/* ---- Streaming verifier --------------------------------------------------
 * mornak_verify in chunks: restores the stream, encodes what it restores and
 * compares that with the stream, keeping nothing but what it has not
 * compared yet. Memory: an encoder, a decoder and 1.1 MiB more (5,373,952
 * bytes and under 2 KiB in all). */

typedef struct mornak_verifier mornak_verifier;

MORNAK_API mornak_verifier* mornak_verifier_create(void);
MORNAK_API void mornak_verifier_free(mornak_verifier* verifier);
MORNAK_API mornak_status mornak_verifier_begin(mornak_verifier* verifier);

/* Takes .bk bytes from in; MORNAK_MORE until finish is set and all input is
 * taken, then MORNAK_OK or the fault. A fault the decoder finds comes before
 * MORNAK_ERROR_NOT_CANONICAL, which is given only once the stream restored
 * whole, with at_byte the first byte that differs. */
MORNAK_API mornak_status mornak_verifier_run(mornak_verifier* verifier, mornak_in* in, int finish);

/* Checks one segment of the .bk file bk[0..bk_size) the way mornak_verify
 * checks a whole file: from the restart point `point` (from mornak_index or
 * mornak_scan_points) to the next CLEAR_CODE, or to the end of the stream.
 * *next is then where the segment ended, as mornak_decoder_position gives
 * it: the next restart point, or {8 * bk_size, ...} after the stream's end.
 * MORNAK_OK, a fault of the decoder's (mornak_verifier_fault gives its
 * place; with an unknown content offset the lengths are not checked, as
 * mornak_decoder_begin_at says), or MORNAK_ERROR_NOT_CANONICAL at the first
 * byte where the segment's encoding differs or stops short. A fault that
 * lies only in the next segment's first code is left to that segment. The
 * file stays in the caller's memory; replaces the verifier's stream. */
MORNAK_API mornak_status mornak_verifier_check_segment(mornak_verifier* verifier, const void* bk, size_t bk_size,
                                                       const mornak_point* point, mornak_point* next);

/* As mornak_decoder_fault; restored is the length of the original once the
 * stream passed. */
MORNAK_API void mornak_verifier_fault(const mornak_verifier* verifier, mornak_fault* fault);

#ifdef __cplusplus
}
#endif

#endif /* MORNAK_H */
