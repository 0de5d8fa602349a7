#pragma once

// The runtime descriptor calls, as for Linux (platform/include/io.h). The
// shell copies a stream object over a standard one, as Windows' runtime
// allows; Emscripten's C library (musl) keeps FILE opaque, so its layout is
// given here, as in Emscripten 3.1.6's musl. On a page the standard streams
// are handed over, so the copy never runs there.

#include "../../include/io.h"

#include <sys/types.h>

struct _IO_FILE {
    unsigned flags;
    unsigned char *rpos, *rend;
    int (*close)(FILE*);
    unsigned char *wend, *wpos;
    unsigned char* mustbezero_1;
    unsigned char* wbase;
    size_t (*read)(FILE*, unsigned char*, size_t);
    size_t (*write)(FILE*, const unsigned char*, size_t);
    off_t (*seek)(FILE*, off_t, int);
    unsigned char* buf;
    size_t buf_size;
    FILE *prev, *next;
    int fd;
    int pipe_pid;
    long lockcount;
    int mode;
    volatile int lock;
    int lbf;
    void* cookie;
    off_t off;
    char* getln_buf;
    void* mustbezero_2;
    unsigned char* shend;
    off_t shlim, shcnt;
    FILE *prev_locked, *next_locked;
    struct __locale_struct* locale;
};
