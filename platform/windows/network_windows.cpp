#include "platform/network.h"

#include <windows.h>
#include <wininet.h>

namespace platform {

bool HasNetworkConnection() {
    DWORD flags = 0;
    return InternetGetConnectedStateExW(&flags, nullptr, 0, 0) != FALSE;
}

}  // namespace platform
