/* spandsp's dtmf_rx over a WAV file, the yardstick for OrvinDtmf --bench.
 *
 *   dtmf_rx_bench SECONDS FILE.wav
 *
 * Built natively with the host compiler (see dtmf_bench.sh). Feeds the file in chunks of
 * 800 samples, as the agent's capture feeds its own detector, and prints the digits of one
 * pass and, as its last line, the samples per second reached. Every timed pass must find the
 * same digits as the first; otherwise it says so and exits with status 3.
 */
#include <spandsp.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#define CHUNK 800

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

static uint32_t le32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24;
}
static uint16_t le16(const unsigned char* p) {
    return (uint16_t)(p[0] | p[1] << 8);
}

/* Loads an 8000 Hz 16-bit mono PCM file; returns the sample count, 0 on failure. */
static size_t load(const char* name, int16_t** out) {
    FILE* f = fopen(name, "rb");
    if (!f) {
        return 0;
    }
    fseek(f, 0, SEEK_END);
    long size = ftell(f);
    fseek(f, 0, SEEK_SET);
    unsigned char* all = malloc((size_t)size);
    size_t got = fread(all, 1, (size_t)size, f);
    fclose(f);
    size_t n = 0;
    int format_ok = 0;
    if (got >= 12 && !memcmp(all, "RIFF", 4) && !memcmp(all + 8, "WAVE", 4)) {
        size_t at = 12;
        while (at + 8 <= got) {
            uint32_t len = le32(all + at + 4);
            const unsigned char* body = all + at + 8;
            if (!memcmp(all + at, "fmt ", 4) && len >= 16) {
                format_ok =
                    le16(body) == 1 && le16(body + 2) == 1 && le32(body + 4) == 8000 && le16(body + 14) == 16;
            } else if (!memcmp(all + at, "data", 4) && format_ok) {
                if (len > got - at - 8) {
                    len = (uint32_t)(got - at - 8);
                }
                n = len / 2;
                *out = malloc(n * sizeof(int16_t) + 1);
                memcpy(*out, body, n * sizeof(int16_t));
                break;
            }
            at += 8 + len + (len & 1);
        }
    }
    free(all);
    return n;
}

/* One pass; the digits found go into `digits` (terminated, cut to cap - 1). */
static void pass(dtmf_rx_state_t* rx, const int16_t* s, size_t n, char* digits, size_t cap) {
    char buf[64];
    size_t used = 0;
    for (size_t at = 0; at < n; at += CHUNK) {
        int len = (int)(n - at < CHUNK ? n - at : CHUNK);
        dtmf_rx(rx, s + at, len);
        size_t got = dtmf_rx_get(rx, buf, sizeof buf - 1);
        if (used + got > cap - 1) {
            got = cap - 1 - used;
        }
        memcpy(digits + used, buf, got);
        used += got;
    }
    digits[used] = 0;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: dtmf_rx_bench SECONDS FILE.wav\n");
        return 2;
    }
    double seconds = atof(argv[1]);
    int16_t* s = NULL;
    size_t n = load(argv[2], &s);
    if (n == 0) {
        fprintf(stderr, "dtmf_rx_bench: %s is no 8000 Hz 16-bit mono PCM file with samples\n", argv[2]);
        return 1;
    }
    dtmf_rx_state_t* rx = dtmf_rx_init(NULL, NULL, NULL);
    static char digits[4096], found[4096];
    pass(rx, s, n, digits, sizeof digits);

    /* Every timed pass is checked against the first. */
    unsigned long long passes = 0, wrong = 0;
    double start = now(), elapsed;
    do {
        pass(rx, s, n, found, sizeof found);
        if (strcmp(found, digits) != 0 && wrong++ == 0) {
            fprintf(stderr, "dtmf_rx_bench: pass %llu found \"%s\", the first \"%s\"\n", passes + 1, found,
                    digits);
        }
        ++passes;
        elapsed = now() - start;
    } while (elapsed < seconds);
    printf("digits per pass: %s\n", digits);
    if (wrong) {
        fprintf(stderr, "dtmf_rx_bench: %llu of %llu passes found other digits than the first\n", wrong,
                passes);
        dtmf_rx_free(rx);
        free(s);
        return 3;
    }
    printf("passes: %llu of %zu samples in %.3f s\n", passes, n, elapsed);
    printf("%.0f samples/s\n", (double)passes * (double)n / elapsed);
    dtmf_rx_free(rx);
    free(s);
    return 0;
}
