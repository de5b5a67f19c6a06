#include "tests/support/serial_pair.h"

std::unique_ptr<catsim::CatSimulator> OpenTerminalLine(std::string& gatewayPort,
                                                       std::string* error) {
    auto cat = catsim::CatSimulator::CreatePty(error);
    if (cat) gatewayPort = cat->DevicePath();
    return cat;
}

bool RunningUnderWine() { return false; }
