/* stream.c: compresses INPUT ("-" for standard input) into OUTPUT.bk with the
 * streaming encoder, 4 KiB at a time, then restores OUTPUT.bk to standard
 * output with the streaming decoder.
 *   usage: stream INPUT OUTPUT.bk > RESTORED
 *   build: cc -std=c99 stream.c $(pkg-config --cflags --libs mornak) -o stream */
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <mornak.h>

static unsigned char ibuf[4096], obuf[4096];

static int failed(const char* what, const char* why) {
    fprintf(stderr, "stream: %s: %s\n", what, why);
    return 1;
}

int main(int argc, char** argv) {
    if (argc != 3) return failed("usage", "stream INPUT OUTPUT.bk > RESTORED") + 1;
    FILE* src = strcmp(argv[1], "-") == 0 ? stdin : fopen(argv[1], "rb");
    if (src == NULL) return failed(argv[1], strerror(errno));
    FILE* bk = fopen(argv[2], "w+b");
    if (bk == NULL) return failed(argv[2], strerror(errno));
    mornak_encoder* enc = mornak_encoder_create();
    mornak_decoder* dec = mornak_decoder_create();
    if (enc == NULL || dec == NULL) return failed("create", mornak_status_name(MORNAK_ERROR_MEMORY));

    /* Compress. The length is known only at the end, so the header goes in last. */
    mornak_status st = mornak_encoder_begin(enc, MORNAK_SIZE_UNKNOWN);
    int finish = 0;
    while (!finish && (st == MORNAK_OK || st == MORNAK_MORE)) {
        mornak_in in = {ibuf, fread(ibuf, 1, sizeof ibuf, src), 0};
        finish = in.size < sizeof ibuf; /* a short read: the end, or an error (ferror below) */
        do { /* MORE: it wants more output room, or took all of in and wants the next chunk */
            mornak_out out = {obuf, sizeof obuf, 0};
            st = mornak_encoder_run(enc, &in, &out, finish);
            fwrite(obuf, 1, out.pos, bk);
        } while (st == MORNAK_MORE && (finish || in.pos < in.size));
    }
    unsigned char header[MORNAK_HEADER_BYTES];
    if (st == MORNAK_OK) st = mornak_encoder_header(enc, header);
    if (st != MORNAK_OK) return failed(argv[1], mornak_status_name(st));
    if (ferror(src)) return failed(argv[1], strerror(errno));
    if (fseek(bk, 0, SEEK_SET) != 0 || fwrite(header, 1, sizeof header, bk) != sizeof header || fflush(bk) != 0 ||
        ferror(bk))
        return failed(argv[2], strerror(errno));

    /* Restore: the same loop, the .bk file in, the original bytes out. */
    rewind(bk);
    st = mornak_decoder_begin(dec);
    finish = 0;
    while (!finish && (st == MORNAK_OK || st == MORNAK_MORE)) {
        mornak_in in = {ibuf, fread(ibuf, 1, sizeof ibuf, bk), 0};
        finish = in.size < sizeof ibuf;
        do {
            mornak_out out = {obuf, sizeof obuf, 0};
            st = mornak_decoder_run(dec, &in, &out, finish);
            fwrite(obuf, 1, out.pos, stdout);
        } while (st == MORNAK_MORE && (finish || in.pos < in.size));
    }
    if (st != MORNAK_OK) return failed(argv[2], mornak_status_name(st));
    if (ferror(bk) || fclose(bk) != 0) return failed(argv[2], strerror(errno));
    if (fflush(stdout) != 0 || ferror(stdout)) return failed("standard output", strerror(errno));
    mornak_encoder_free(enc);
    mornak_decoder_free(dec);
    return 0;
}
