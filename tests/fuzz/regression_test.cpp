// Every saved input of the fuzz targets (the seeds and each input that once
// broke a promise) replayed through the same checks, in the ordinary suite.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_check.h"

void FuzzFailure(const char* what, const char* file, int line) {
    ADD_FAILURE_AT(file, line) << "broken promise: " << what;
}

namespace {

namespace fs = std::filesystem;

struct Target {
    const char* name;
    void (*run)(const uint8_t*, size_t);
};

// Shown by its name in test listings.
void PrintTo(const Target& target, std::ostream* os) { *os << target.name; }

class FuzzRegression : public testing::TestWithParam<Target> {};

std::vector<fs::path> SavedInputs(const std::string& name) {
    std::vector<fs::path> files;
    for (const char* kind : {"corpus", "regressions"}) {
        const fs::path dir = fs::path(TALMIRA_FUZZ_DIR) / kind / name;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(dir, ec))
            if (e.is_regular_file()) files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST_P(FuzzRegression, SavedInputsKeepEveryPromise) {
    const std::vector<fs::path> files = SavedInputs(GetParam().name);
    ASSERT_FALSE(files.empty()) << "no seeds for " << GetParam().name;
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.string());
        std::ifstream in(file, std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        // Exactly sized, as the fuzzer hands it over: a read past it is caught.
        const auto copy = std::make_unique<uint8_t[]>(bytes.size() + 1);
        std::copy(bytes.begin(), bytes.end(), copy.get());
        GetParam().run(copy.get(), bytes.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzRegression,
                         testing::Values(Target{"cat_request", FuzzCATRequest},
                                         Target{"session_end", FuzzSessionEnd},
                                         Target{"settings_ini", FuzzSettingsIni},
                                         Target{"update_answer", FuzzUpdateAnswer},
                                         Target{"log_line", FuzzLogLine}),
                         [](const testing::TestParamInfo<Target>& info) { return info.param.name; });

}  // namespace
