// windows.h first, the headers that build on it after it.
// clang-format off
#include <windows.h>
#include <tlhelp32.h>
// clang-format on

#include "tests/update/process_util_windows.h"

#include <cstring>
#include <thread>

#include "platform/system.h"
#include "platform/windows/text.h"
#include "tests/update/process_util.h"

namespace {

std::wstring W(const std::string& s) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
    return out;
}

}  // namespace

int StartProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::string& dir, const std::vector<std::string>&) {
    std::wstring line = L"\"" + W(program) + L"\"";
    for (const auto& a : args) line += L" \"" + W(a) + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const std::wstring wdir = W(dir);
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, wdir.c_str(),
                        &si, &pi))
        return -1;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(pi.dwProcessId);
}

int WaitChild(int pid, std::chrono::milliseconds limit) {
    HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE,
                           FALSE, static_cast<DWORD>(pid));
    if (h == nullptr) return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(h, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) {
        TerminateProcess(h, 1);
        WaitForSingleObject(h, 5000);
    } else {
        GetExitCodeProcess(h, &code);
    }
    CloseHandle(h);
    return static_cast<int>(code);
}

bool ProcessAlive(int pid) {
    if (pid <= 0) return false;
    HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (h == nullptr) return false;
    const bool alive = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    CloseHandle(h);
    return alive;
}

void EndProcess(int pid) {
    if (pid <= 0) return;
    HANDLE h = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (h == nullptr) return;
    if (WaitForSingleObject(h, 0) == WAIT_TIMEOUT) {
        TerminateProcess(h, 1);
        WaitForSingleObject(h, 5000);
    }
    CloseHandle(h);
}

bool WaitUntil(const std::function<bool()>& cond, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!cond()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool IsRunnableFile(const std::string& path) {
    const DWORD a = GetFileAttributesW(W(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

namespace {
const wchar_t* const kInternetSettings =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
}

ScopedProxy::ScopedProxy(const std::string& hostPort) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kInternetSettings, 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    for (const wchar_t* name : {L"ProxyEnable", L"ProxyServer", L"ProxyOverride"}) {
        BYTE data[512] = {};
        DWORD size = sizeof data;
        DWORD type = 0;
        const bool had = RegQueryValueExW(key, name, nullptr, &type, data, &size) == ERROR_SUCCESS;
        std::string saved = had ? std::string(reinterpret_cast<char*>(&type), sizeof type) +
                                      std::string(reinterpret_cast<char*>(data), size)
                                : "\x01";
        std::wstring wname(name);
        m_saved.emplace_back(std::string(reinterpret_cast<const char*>(wname.c_str()),
                                         (wname.size() + 1) * sizeof(wchar_t)),
                             saved);
        RegDeleteValueW(key, name);
    }
    const DWORD enable = 1;
    RegSetValueExW(key, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable),
                   sizeof enable);
    const std::wstring server = W(hostPort);
    RegSetValueExW(key, L"ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                   static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

ScopedProxy::~ScopedProxy() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kInternetSettings, 0, KEY_ALL_ACCESS, &key) !=
        ERROR_SUCCESS)
        return;
    for (const auto& [name, value] : m_saved) {
        const auto* wname = reinterpret_cast<const wchar_t*>(name.data());
        if (value == "\x01") {
            RegDeleteValueW(key, wname);
        } else {
            DWORD type = 0;
            std::memcpy(&type, value.data(), sizeof type);
            RegSetValueExW(key, wname, 0, type,
                           reinterpret_cast<const BYTE*>(value.data() + sizeof type),
                           static_cast<DWORD>(value.size() - sizeof type));
        }
    }
    RegCloseKey(key);
}

std::string InstallDir() {
    wchar_t drive[32] = {};
    GetEnvironmentVariableW(L"HOMEDRIVE", drive, 32);
    return platform::win::Utf8(drive, wcslen(drive)) + "\\QAVEX";
}

std::vector<DWORD> Copies() {
    std::vector<DWORD> pids;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return pids;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snap, &entry); more; more = Process32NextW(snap, &entry)) {
        if (lstrcmpiW(entry.szExeFile, L"brisken.exe") == 0) pids.push_back(entry.th32ProcessID);
    }
    CloseHandle(snap);
    return pids;
}
