#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

#include "platform/launcher.h"
#include "platform/system.h"
#include "platform/windows/handle.h"
#include "platform/windows/text.h"

namespace platform {

int LaunchScriptDetached(const std::string& script, const std::string& workDir) {
    const std::wstring file = win::Wide(script);
    const std::wstring dir = win::Wide(workDir);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // The process handle only to learn its id; nothing waits on it.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = L"open";
    info.lpFile = file.c_str();
    info.lpDirectory = workDir.empty() ? nullptr : dir.c_str();
    info.nShow = SW_HIDE;
    if (!ShellExecuteExW(&info)) return -1;
    win::Handle process(info.hProcess);
    const DWORD pid = process.valid() ? GetProcessId(process.get()) : 0;
    return pid != 0 ? static_cast<int>(pid) : -1;
}

int CurrentProcessId() { return static_cast<int>(GetCurrentProcessId()); }

bool IsNativeExecutable(const std::string& path) {
    // "MZ", the PE header's offset at 0x3C, "PE\0\0" there and the machine
    // this program runs on.
    std::ifstream in(FsPath(path), std::ios::binary);
    unsigned char dos[0x40] = {};
    if (!in.read(reinterpret_cast<char*>(dos), sizeof dos) || dos[0] != 'M' || dos[1] != 'Z')
        return false;
    uint32_t offset = 0;
    std::memcpy(&offset, dos + 0x3C, sizeof offset);
    if (offset < sizeof dos || offset > 0x10000000) return false;
    unsigned char pe[6] = {};
    if (!in.seekg(offset) || !in.read(reinterpret_cast<char*>(pe), sizeof pe)) return false;
    if (std::memcmp(pe, "PE\0\0", 4) != 0) return false;
    const uint16_t machine = static_cast<uint16_t>(pe[4] | (pe[5] << 8));
    return machine == (sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386);
}

std::string OwnFileVersion() {
    // FileVersion of the Korean block, "StringFileInfo\041204b0", cut to 31 bytes.
    const HMODULE self = GetModuleHandleW(nullptr);
    const HRSRC found =
        FindResourceW(self, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16) /* RT_VERSION */);
    if (found == nullptr) return {};
    const HGLOBAL loaded = LoadResource(self, found);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = SizeofResource(self, found);
    if (data == nullptr || size == 0) return {};
    // VerQueryValueW may write into the block, so it gets a copy of its own.
    std::vector<unsigned char> block(static_cast<const unsigned char*>(data),
                                     static_cast<const unsigned char*>(data) + size);
    wchar_t* text = nullptr;
    UINT chars = 0;
    if (!VerQueryValueW(block.data(), L"\\StringFileInfo\\041204b0\\FileVersion",
                        reinterpret_cast<void**>(&text), &chars) ||
        text == nullptr || chars == 0)
        return {};
    std::string version = win::Utf8(std::wstring(text));
    if (version.size() > 31) version.resize(31);
    return version;
}

std::string ScriptFileBytes(const std::string& text) {
    const std::wstring wide = win::Wide(text);
    if (wide.empty()) return {};
    const int n = WideCharToMultiByte(CP_OEMCP, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_OEMCP, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

}  // namespace platform
