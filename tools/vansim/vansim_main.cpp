// vansim: a VAN server on 127.0.0.1 for trying the gateway by hand.
//   vansim [--port N] [--mode echo|silent|close|large] [--greeting TEXT]
// Prints the port it listens on, then every buffer it receives in hex.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/vansim/van_simulator.h"

namespace {
volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

std::string Hex(const std::string& bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}
}  // namespace

int main(int argc, char** argv) {
    VanSimulator::Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--port" && value) {
            options.port = static_cast<uint16_t>(std::atoi(value));
            ++i;
        } else if (arg == "--greeting" && value) {
            options.greeting = value;
            ++i;
        } else if (arg == "--mode" && value) {
            const std::string m = value;
            ++i;
            if (m == "echo") options.mode = VanSimulator::Mode::Echo;
            else if (m == "silent") options.mode = VanSimulator::Mode::Silent;
            else if (m == "close") options.mode = VanSimulator::Mode::CloseAfterGreeting;
            else if (m == "large") options.greeting = LargeVanReply();
            else {
                std::fprintf(stderr, "vansim: unknown mode %s\n", m.c_str());
                return 2;
            }
        } else {
            std::fprintf(stderr, "usage: vansim [--port N] [--mode echo|silent|close|large] [--greeting TEXT]\n");
            return 2;
        }
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    VanSimulator van(options);
    if (!van.Start()) {
        std::fprintf(stderr, "vansim: cannot listen on 127.0.0.1:%u\n", options.port);
        return 1;
    }
    std::printf("vansim: listening on 127.0.0.1:%u\n", van.Port());
    std::fflush(stdout);
    size_t shown = 0;
    int accepted = 0;
    while (!g_stop) {
        van.WaitReceived(shown + 1, 200);
        if (van.Accepted() != accepted) {
            accepted = van.Accepted();
            std::printf("vansim: connection %d accepted\n", accepted);
        }
        const std::string all = van.Received();
        if (all.size() > shown) {
            std::printf("vansim: received [%zu] %s\n", all.size() - shown, Hex(all.substr(shown)).c_str());
            shown = all.size();
        }
        std::fflush(stdout);
    }
    van.Stop();
    return 0;
}
