// update_sig_bench: what the signature check adds to an update, on a release
// file of the given size in the page cache.
//   update_sig_bench [runs] [megabytes]      (default 21 runs, 3 MB)
// Prints the median and the spread of the whole check (read, SHA-256, ECDSA
// P-256 verify), of reading the file alone, and of one verify over no data.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/signature.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_keys.h"
#include "update/release_signature.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename F>
std::vector<double> TimeRuns(int runs, F&& f) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        f();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    return ms;
}

void Print(const char* what, const std::vector<double>& ms) {
    std::printf("%-34s median %8.3f ms   min %8.3f   max %8.3f\n", what, ms[ms.size() / 2],
                ms.front(), ms.back());
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
    const double mb = argc > 2 ? std::atof(argv[2]) : 3.0;
    const auto size = static_cast<size_t>(mb * 1024 * 1024);

    std::string file(size, '\0');
    std::mt19937 rng(7);
    for (char& c : file) c = static_cast<char>(rng());
    TempDir dir;
    const std::string path = dir / "UpdateFile.sob";
    WriteFile(path, file);
    const TestKeyPair key = MakeTestKeyPair();
    const std::string sig = ReleaseSig(key.privateKey, "2.0.0.7", file);
    if (!ReleaseSignatureValid(path, "2.0.0.7", sig, key.publicPem)) {
        std::fprintf(stderr, "update_sig_bench: the signature does not verify\n");
        return 1;
    }

    std::printf("release file %.1f MB, %d runs, file in the page cache\n", mb, runs);
    bool allGood = true;
    Print("signature check (whole)", TimeRuns(runs, [&] {
              allGood = ReleaseSignatureValid(path, "2.0.0.7", sig, key.publicPem) && allGood;
          }));
    size_t read = 0;
    Print("reading the file alone", TimeRuns(runs, [&] {
              std::ifstream in(path, std::ios::binary);
              std::vector<char> buf(64 * 1024);
              read = 0;
              while (in) {
                  in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
                  read += static_cast<size_t>(in.gcount());
              }
          }));
    allGood = read == size && allGood;
    const std::string der = SignDer(key.privateKey, "");
    Print("key import + one verify, no data", TimeRuns(runs, [&] {
              platform::SignatureVerifier v(key.publicPem);
              allGood = v.Verify(der) && allGood;
          }));
    return allGood ? 0 : 1;
}
