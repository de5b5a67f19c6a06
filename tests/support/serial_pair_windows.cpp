#include <windows.h>

#include "tests/support/serial_pair.h"

std::unique_ptr<catsim::CatSimulator> OpenTerminalLine(std::string& gatewayPort,
                                                       std::string* error) {
    auto cat = catsim::CatSimulator::OpenDevice("COM12", 9600, error);
    if (cat) gatewayPort = "COM11";
    return cat;
}

bool RunningUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
