// Where the system has no pseudo-terminals (Windows), the terminal is played
// on a real COM port (OpenDevice) instead.
#include "tools/catsim/cat_simulator.h"

namespace catsim {

std::unique_ptr<CatSimulator> CatSimulator::CreatePty(std::string* error) {
    if (error) *error = "this system has no pseudo-terminals; use --device COMn";
    return nullptr;
}

}  // namespace catsim
