// The fuzz targets' own check: a broken invariant aborts, which libFuzzer
// reports as a crash with its input. Unlike assert it stays in every build.
#pragma once
#include <stdio.h>
#include <stdlib.h>

#define FUZZ_CHECK(condition)                                                        \
    do {                                                                             \
        if (!(condition)) {                                                          \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            abort();                                                                 \
        }                                                                            \
    } while (0)
