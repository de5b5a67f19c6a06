#include <windows.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

#include "platform/launcher.h"
#include "platform/system.h"
#include "platform/windows/handle.h"
#include "platform/windows/text.h"

namespace platform {

namespace {

// Where path ends its folder part (the last separator), npos when it has none.
size_t LastSeparator(const std::wstring& path) { return path.find_last_of(L"\\/"); }

// True when wide converts to the console (OEM) code page and back unchanged:
// no character replaced by the default "?" and none by a best-fit look-alike.
bool FitsConsoleCodePage(const std::wstring& wide) {
    if (wide.empty()) return true;
    if (GetOEMCP() == CP_UTF8) return true;  // the system-wide UTF-8 setting holds every name
    BOOL usedDefault = FALSE;
    const int n =
        WideCharToMultiByte(CP_OEMCP, WC_NO_BEST_FIT_CHARS, wide.data(),
                            static_cast<int>(wide.size()), nullptr, 0, nullptr, &usedDefault);
    return n > 0 && !usedDefault;
}

std::wstring ShortName(const std::wstring& path) {
    const DWORD n = GetShortPathNameW(path.c_str(), nullptr, 0);
    if (n == 0) return {};
    std::wstring out(n, L'\0');
    const DWORD got = GetShortPathNameW(path.c_str(), out.data(), n);
    if (got == 0 || got >= n) return {};
    out.resize(got);
    return out;
}

}  // namespace

int LaunchScriptDetached(const std::string& script, const std::string& workDir) {
    const std::wstring file = win::Wide(script);
    const size_t sep = LastSeparator(file);
    // The script runs by its own name in its own folder, so its path never
    // passes through cmd's command line (where a "%" in a folder name would be
    // read as a variable).
    const std::wstring name = sep == std::wstring::npos ? file : file.substr(sep + 1);
    std::wstring dir = win::Wide(workDir);
    if (dir.empty() && sep != std::wstring::npos)
        dir = file.substr(0, sep == 2 && file[1] == L':' ? 3 : sep);

    // cmd.exe from the system folder, never one found on the search path.
    wchar_t system[MAX_PATH] = {};
    const UINT len = GetSystemDirectoryW(system, MAX_PATH);
    if (len == 0 || len >= MAX_PATH) return -1;
    const std::wstring cmd = std::wstring(system, len) + L"\\cmd.exe";
    // /d: no AutoRun of the user's; /v:off: a "!" in a path is a "!" whatever
    // the registry says of delayed expansion; /c: the outer quotes go, the
    // inner ones stay around the name.
    std::wstring line = L"\"" + cmd + L"\" /d /v:off /c \"\"" + name + L"\"\"";

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi{};
    // Out of any job of ours where the job allows it, so the script outlives
    // a program that a job ends with its last process.
    const DWORD flags = CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT;
    BOOL made = CreateProcessW(cmd.c_str(), line.data(), nullptr, nullptr, FALSE,
                               flags | CREATE_BREAKAWAY_FROM_JOB, nullptr,
                               dir.empty() ? nullptr : dir.c_str(), &si, &pi);
    if (!made && GetLastError() == ERROR_ACCESS_DENIED) {
        made = CreateProcessW(cmd.c_str(), line.data(), nullptr, nullptr, FALSE, flags, nullptr,
                              dir.empty() ? nullptr : dir.c_str(), &si, &pi);
    }
    if (!made) return -1;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(pi.dwProcessId);
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
    // A 64-bit program also takes a 32-bit one, which 64-bit Windows runs
    // through WoW64: a shop on the 64-bit build moves to the 32-bit release
    // that every shop PC runs. A 32-bit program takes only its own kind.
    const uint16_t machine = static_cast<uint16_t>(pe[4] | (pe[5] << 8));
    return machine == IMAGE_FILE_MACHINE_I386 ||
           (sizeof(void*) == 8 && machine == IMAGE_FILE_MACHINE_AMD64);
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
    if (wide.empty() || !FitsConsoleCodePage(wide)) return {};
    const DWORD flags = GetOEMCP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int n = WideCharToMultiByte(CP_OEMCP, flags, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_OEMCP, flags, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

bool ScriptFolderUsable(const std::string& dir) {
    const bool network =
        dir.size() >= 2 && (dir[0] == '\\' || dir[0] == '/') && (dir[1] == '\\' || dir[1] == '/');
    return !network;
}

std::string ScriptPathText(const std::string& path) {
    const std::wstring wide = win::Wide(path);
    if (FitsConsoleCodePage(wide)) return path;
    // A folder by its short name. A file by its folder's short name and its
    // own name, never by a short name of its own: a file moved over under a
    // short name would be left with that name alone.
    std::wstring shortName;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        shortName = ShortName(wide);
    } else {
        const size_t sep = LastSeparator(wide);
        if (sep == std::wstring::npos) return {};
        const std::wstring folder = ShortName(wide.substr(0, sep));
        if (!folder.empty()) shortName = folder + L"\\" + wide.substr(sep + 1);
    }
    // A volume without short names gives the long name back: still lossy.
    if (shortName.empty() || !FitsConsoleCodePage(shortName)) return {};
    return win::Utf8(shortName);
}

}  // namespace platform
