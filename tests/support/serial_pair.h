#pragma once
#include <memory>
#include <string>

#include "tools/catsim/cat_simulator.h"

// The simulated terminal on the far end of a serial line the gateway opens.
// Linux: a fresh pseudo-terminal pair of its own. Windows: COM12, whose far
// end is COM11 (the pair the com_pair fixture links in the Wine prefix).
// gatewayPort receives the port name the gateway opens. Null on failure, with
// the reason in *error.
std::unique_ptr<catsim::CatSimulator> OpenTerminalLine(std::string& gatewayPort,
                                                       std::string* error = nullptr);

// True when the test program runs under Wine, which differs from Windows in a
// few documented ways (it lets a second open of a COM port through).
bool RunningUnderWine();
