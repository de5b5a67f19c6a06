#include "platform/serial_ports.h"
#include "platform/windows/registry.h"
#include "platform/windows/text.h"

#include <setupapi.h>


namespace platform {

namespace {
// GUID_DEVINTERFACE_COMPORT, spelt out so no further header is needed.
const GUID kComPortInterface = {0x86e0d1e0, 0x8089, 0x11d0,
                                {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};

// The "PortName" value of the device's hardware key ("COM7"); "" when none.
std::string PortNameOf(HDEVINFO set, SP_DEVINFO_DATA& info) {
    HKEY key = SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) return "";
    wchar_t name[64] = {};
    DWORD type = 0;
    DWORD size = sizeof name - sizeof(wchar_t);  // room kept for the terminator
    const LONG read =
        RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || type != REG_SZ) return "";
    name[size / sizeof(wchar_t)] = L'\0';
    return win::Utf8(name);
}
}  // namespace

std::vector<std::string> ListSerialPorts() {
    return win::RegValueTexts(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM");
}

std::vector<PortIdentity> ListPortIdentities() {
    std::vector<PortIdentity> ports;
    HDEVINFO set = SetupDiGetClassDevsW(&kComPortInterface, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return ports;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof info;
    // A bound on the devices looked at, whatever the set reports.
    for (DWORD i = 0; i < 256 && SetupDiEnumDeviceInfo(set, i, &info); ++i) {
        const std::string port = PortNameOf(set, info);
        if (port.empty()) continue;
        wchar_t id[512] = {};  // MAX_DEVICE_ID_LEN is 200
        std::string identity;
        if (SetupDiGetDeviceInstanceIdW(set, &info, id, 512, nullptr))
            identity = IdentityFromInstanceId(win::Utf8(id));
        ports.push_back({port, identity});
    }
    SetupDiDestroyDeviceInfoList(set);
    return ports;
}

}  // namespace platform
