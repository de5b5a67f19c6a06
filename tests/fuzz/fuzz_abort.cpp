#include <cstdio>
#include <cstdlib>

#include "tests/fuzz/fuzz_check.h"

void FuzzFailure(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: broken promise: %s\n", file, line, what);
    std::abort();
}
