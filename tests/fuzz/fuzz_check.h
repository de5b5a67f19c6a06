#pragma once
#include <cstddef>
#include <cstdint>

// The promises each fuzz target checks on every input. A broken one stops the
// fuzzer (abort: libFuzzer saves the input) or fails the regression case that
// replays the saved input in the ordinary suite.
void FuzzFailure(const char* what, const char* file, int line);
#define FUZZ_CHECK(cond)                                         \
    do {                                                         \
        if (!(cond)) FuzzFailure(#cond, __FILE__, __LINE__);     \
    } while (0)

// The targets, one input each. Any input size, any bytes.
void FuzzCATRequest(const uint8_t* data, size_t size);
void FuzzSessionEnd(const uint8_t* data, size_t size);
void FuzzSettingsIni(const uint8_t* data, size_t size);
void FuzzUpdateAnswer(const uint8_t* data, size_t size);
void FuzzLogLine(const uint8_t* data, size_t size);

// In a libFuzzer build each target's file is also its fuzzer's entry point.
#ifdef TALMIRA_LIBFUZZER
#define TALMIRA_FUZZ_TARGET(fn)                                                  \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {   \
        fn(data, size);                                                          \
        return 0;                                                                \
    }
#else
#define TALMIRA_FUZZ_TARGET(fn)
#endif
