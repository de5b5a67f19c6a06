// Linked into the shipped program only: before anything else runs, every DLL
// the program loads from now on (the delay-loaded ones, cmake/delay_load.cmake)
// comes from the system folder, whatever lies beside the executable (a
// program started from Downloads has a browser's saved files beside it).
#include <windows.h>

#include <cstddef>
#include <string>

namespace {

const wchar_t* const kDelayLoaded[] = {BRISKEN_DELAY_DLLS};

void SystemDllsOnly() {
    // Windows 7 has SetDefaultDllDirectories only with KB2533623: looked up.
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto set = reinterpret_cast<SetDirectories>(reinterpret_cast<void*>(
        kernel != nullptr ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr));
    if (set != nullptr && set(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    // Without it: no current folder in the search, and each DLL loaded now
    // by its full path; the delay-load helper, which loads by name, then
    // finds it loaded already.
    SetDllDirectoryW(L"");
    wchar_t dir[MAX_PATH];
    const UINT n = GetSystemDirectoryW(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    for (const wchar_t* name : kDelayLoaded)
        LoadLibraryW((std::wstring(dir, n) + L"\\" + name + L".dll").c_str());
}

// Ahead of every other constructor of the program.
__attribute__((constructor(101))) void RunFirst() { SystemDllsOnly(); }

}  // namespace

// The image's load configuration: Windows 10 1607 and later search only the
// system folder for the DLLs it imports (DependentLoadFlags, the field the
// headers here call Reserved1). The build points the image's load
// configuration entry at this symbol (tools/pe-load-config.sh; on i686 the
// compiler names it __load_config_used). Constant: the loader reads it
// before any code runs.
namespace {
constexpr IMAGE_LOAD_CONFIG_DIRECTORY LoadConfig() {
    IMAGE_LOAD_CONFIG_DIRECTORY config{};
#ifdef _WIN64
    config.Size = sizeof config;
#else
    // Up to the security cookie only: a 32-bit structure that reached its
    // SEHandlerTable and SEHandlerCount would declare a safe exception
    // handler table (here an empty one) for the whole image.
    config.Size = offsetof(IMAGE_LOAD_CONFIG_DIRECTORY, SEHandlerTable);
#endif
    config.Reserved1 = LOAD_LIBRARY_SEARCH_SYSTEM32;
    return config;
}
}  // namespace

extern "C" __attribute__((used)) constinit const IMAGE_LOAD_CONFIG_DIRECTORY _load_config_used =
    LoadConfig();
