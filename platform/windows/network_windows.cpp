#include <windows.h>
#include <wininet.h>

#include "platform/network.h"

namespace platform {

bool HasNetworkConnection() {
    DWORD flags = 0;
    return InternetGetConnectedStateExW(&flags, nullptr, 0, 0) != FALSE;
}

}  // namespace platform
