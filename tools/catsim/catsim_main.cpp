// catsim: plays the card terminal through one transaction and prints every
// byte it sends and receives in hex.
//
//   catsim --pty --van-port 5010             make a pseudo-terminal, print its path,
//                                            wait for the gateway to open it
//   catsim --device /dev/ttyUSB0 --baud 9600 --van-port 5010
//
// The transaction: a lone CR until the gateway answers with five ACK, a request
// for 127.0.0.1:<van-port>, the server's first data, one message and its
// answer, then five ESC to end the session.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "tools/catsim/cat_simulator.h"

namespace {

void Usage() {
    std::fprintf(stderr,
                 "usage: catsim (--pty | --device PATH [--baud N]) --van-port PORT\n"
                 "              [--address 127.x.y.z] [--message TEXT] [--wait-ms N]\n");
}

bool IsLoopback(const std::string& address) {
    return address.rfind("127.", 0) == 0 &&
           address.find_first_not_of("0123456789.") == std::string::npos;
}

}  // namespace

int main(int argc, char** argv) {
    bool pty = false;
    std::string device;
    int baud = 9600;
    std::string address = "127.0.0.1";
    std::string vanPort;
    std::string message = "TALMIRA CATSIM 0001";
    int waitMs = 60000;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--pty")
            pty = true;
        else if (arg == "--device" && hasValue)
            device = argv[++i];
        else if (arg == "--baud" && hasValue)
            baud = std::atoi(argv[++i]);
        else if (arg == "--address" && hasValue)
            address = argv[++i];
        else if (arg == "--van-port" && hasValue)
            vanPort = argv[++i];
        else if (arg == "--message" && hasValue)
            message = argv[++i];
        else if (arg == "--wait-ms" && hasValue)
            waitMs = std::atoi(argv[++i]);
        else {
            Usage();
            return 2;
        }
    }
    if (pty == !device.empty() || vanPort.empty() || baud <= 0) {
        Usage();
        return 2;
    }
    if (!IsLoopback(address)) {
        std::fprintf(stderr, "catsim: only loopback addresses (127.x.y.z) are sent\n");
        return 2;
    }

    std::string error;
    auto cat = pty ? catsim::CatSimulator::CreatePty(&error)
                   : catsim::CatSimulator::OpenDevice(device, baud, &error);
    if (!cat) {
        std::fprintf(stderr, "catsim: %s\n", error.c_str());
        return 1;
    }
    cat->SetObserver([](catsim::Direction d, std::string_view bytes) {
        std::printf("%s [%zu] %s\n", d == catsim::Direction::ToGateway ? "->" : "<-", bytes.size(),
                    catsim::Hex(bytes).c_str());
        std::fflush(stdout);
    });
    std::printf("line: %s\n", cat->DevicePath().c_str());
    std::fflush(stdout);

    // The gateway may not have opened the line yet: ask until it answers.
    const int64_t until = platform::MonotonicMs() + waitMs;
    bool answered = false;
    while (!answered && platform::MonotonicMs() < until) {
        if (!cat->SendLoneCr()) cat->Silence(1000);
        answered = cat->ExpectBurst(catsim::kACK, 1000);
    }
    if (!answered) {
        std::fprintf(stderr, "catsim: no ACK burst from the gateway\n");
        return 1;
    }
    if (!cat->SendRequest(address, vanPort)) {
        std::fprintf(stderr, "catsim: the request could not be sent\n");
        return 1;
    }
    const std::string first = cat->ReadUntilQuiet(200, 5000);
    if (first.empty() || first == std::string(5, static_cast<char>(catsim::kESC))) {
        std::fprintf(stderr, "catsim: the gateway reached no server\n");
        return 1;
    }
    cat->Send(message);
    const std::string answer = cat->ReadUntilQuiet(200, 5000);
    cat->SendRun(catsim::kESC);
    std::printf("done: %s\n", answer.empty() ? "no answer" : "answered");
    return answer.empty() ? 1 : 0;
}
