// Pseudo-terminal pairs are a Linux facility; this part is built there only.
#include "platform/serial_device.h"
#include "tools/catsim/cat_simulator.h"

namespace catsim {

std::unique_ptr<CatSimulator> CatSimulator::CreatePty(std::string* error) {
    std::unique_ptr<CatSimulator> sim(new CatSimulator);
    if (!platform::OpenPseudoTerminal(*sim->m_device, sim->m_path)) {
        if (error) *error = sim->m_device->LastError().text;
        return nullptr;
    }
    return sim;
}

}  // namespace catsim
