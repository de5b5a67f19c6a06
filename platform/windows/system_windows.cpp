#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "platform/system.h"
#include "platform/windows/handle.h"
#include "platform/windows/private_access.h"
#include "platform/windows/text.h"

namespace platform {

using win::Utf8;
using win::Wide;

std::string ExecutablePath() {
    // Paths longer than MAX_PATH need a larger buffer: grow until it fits.
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) return Utf8(buf.data(), n);
        if (buf.size() >= 32768) return {};
        buf.resize(buf.size() * 2);
    }
}

std::string GetEnv(const char* name) {
    const std::wstring wname = Wide(name);
    const DWORD n = GetEnvironmentVariableW(wname.c_str(), nullptr, 0);
    if (n == 0) return {};
    std::wstring value(n, L'\0');
    const DWORD got = GetEnvironmentVariableW(wname.c_str(), value.data(), n);
    if (got == 0 || got >= n) return {};
    value.resize(got);
    return Utf8(value);
}

bool PathExists(const std::string& path) {
    return !path.empty() && GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::string& path) {
    if (path.empty()) return false;
    const DWORD a = GetFileAttributesW(Wide(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MakeDirectory(const std::string& path) {
    if (CreateDirectoryW(Wide(path).c_str(), nullptr)) return true;
    return GetLastError() == ERROR_ALREADY_EXISTS && IsDirectory(path);
}

bool SameFile(const std::string& a, const std::string& b) {
    // The volume and the file index name a file whatever path or letter case
    // reaches it.
    const auto identify = [](const std::string& path, BY_HANDLE_FILE_INFORMATION& info) {
        win::Handle h(CreateFileW(Wide(path).c_str(), 0,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        return h.valid() && GetFileInformationByHandle(h.get(), &info) != 0;
    };
    BY_HANDLE_FILE_INFORMATION ia{};
    BY_HANDLE_FILE_INFORMATION ib{};
    if (a.empty() || b.empty() || !identify(a, ia) || !identify(b, ib)) return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

std::string LastErrorText() { return win::ErrorText(GetLastError()); }

char PathSeparator() { return '\\'; }

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

std::string JoinPath(const std::string& dir, const std::string& name) {
    if (dir.empty()) return name;
    if (IsPathSeparator(dir.back())) return dir + name;
    return dir + "\\" + name;
}

std::string ExecutableBaseName(const std::string& exeName) {
    // ExeBase is the name without its last four characters; a name that
    // has no dot there has no extension to drop and stays whole.
    if (exeName.size() > 4 && exeName[exeName.size() - 4] == '.') {
        return exeName.substr(0, exeName.size() - 4);
    }
    return exeName;
}

std::filesystem::path FsPath(const std::string& utf8) { return std::filesystem::path(Wide(utf8)); }

std::string PathText(const std::filesystem::path& path) { return Utf8(path.wstring()); }

std::FILE* OpenFile(const std::string& path, const char* mode) {
    return _wfopen(Wide(path).c_str(), Wide(mode).c_str());
}

namespace {

// Makes one folder level with the access of its sharing, or judges one that
// is there by its handle (win::Secure).
bool MakeFolder(const std::string& path, win::Sharing sharing) {
    if (path.empty()) return false;
    const std::wstring wpath = Wide(path);
    win::PrivateSecurity security(win::PrivateKind::Folder, sharing);
    // Without the descriptor no folder is made at all.
    if (security.Attributes() != nullptr &&
        win::Calls().createDirectory(wpath.c_str(), security.Attributes()))
        return true;
    if (security.Attributes() != nullptr && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    win::Handle folder(win::OpenForSecurity(wpath, true));
    BY_HANDLE_FILE_INFORMATION info{};
    return folder.valid() && GetFileInformationByHandle(folder.get(), &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           win::Secure(folder.get(), win::PrivateKind::Folder, sharing);
}

bool SecureFile(const std::string& path, win::Sharing sharing) {
    win::Handle file(win::OpenForSecurity(Wide(path), false));
    return file.valid() && win::Secure(file.get(), win::PrivateKind::File, sharing);
}

}  // namespace

bool MakePrivateDirectory(const std::string& path) { return MakeFolder(path, win::Sharing::Private); }

bool MakeProgramDirectory(const std::string& path) { return MakeFolder(path, win::Sharing::Program); }

bool MakeProgramFile(const std::string& path) { return SecureFile(path, win::Sharing::Program); }

bool IsOwnWritableDirectory(const std::string& path) {
    if (path.empty()) return false;
    // Adding and removing files is what a download and the replace of the
    // program need; the open asks for exactly that.
    win::Handle folder(win::Calls().createFile(
        Wide(path).c_str(), FILE_ADD_FILE | FILE_DELETE_CHILD | READ_CONTROL,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return folder.valid() && win::IsOwn(folder.get());
}

bool AppendToPrivateFile(const std::string& path, const std::string& bytes) {
    const std::wstring wpath = Wide(path);
    // The same descriptor for every file (the user is the process's): built once.
    static win::PrivateSecurity security(win::PrivateKind::File);
    // Append-only access: every write lands at the end, whoever else writes.
    // Full sharing: a reader, a writer or a collector that may delete the file
    // never makes a line fail. A link is not followed.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const DWORD disposition = security.Attributes() != nullptr ? OPEN_ALWAYS : OPEN_EXISTING;
    const auto open = [&](DWORD access) {
        return win::Calls().createFile(wpath.c_str(), access, share, security.Attributes(),
                                       disposition,
                                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                       nullptr);
    };
    win::Handle file(open(FILE_APPEND_DATA | READ_CONTROL | WRITE_DAC));
    if (!file.valid() && GetLastError() == ERROR_ACCESS_DENIED)
        file = win::Handle(open(FILE_APPEND_DATA | READ_CONTROL));
    if (!file.valid()) return false;
    // The descriptor applies to a file made here only; one that was there
    // before is judged by its handle (another's is not written into), once
    // per process for the file a caller keeps appending to (the day's trace).
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        static std::mutex lock;
        static std::wstring checked;
        bool known = false;
        {
            const std::lock_guard hold(lock);
            known = checked == wpath;
        }
        if (!known) {
            if (!win::Secure(file.get(), win::PrivateKind::File, win::Sharing::Private))
                return false;
            const std::lock_guard hold(lock);
            checked = wpath;
        }
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr) || written == 0)
            break;
        done += written;
    }
    return done == bytes.size();
}

std::FILE* CreatePrivateFile(const std::string& path) {
    const std::wstring wpath = Wide(path);
    win::PrivateSecurity security(win::PrivateKind::File);
    if (security.Attributes() == nullptr) return nullptr;
    // The descriptor is given to new files only: an old file is removed, and
    // the new one is made where nothing stands (a file that cannot go fails).
    if (!DeleteFileW(wpath.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) return nullptr;
    HANDLE h =
        win::Calls().createFile(wpath.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                security.Attributes(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        return nullptr;
    }
    std::FILE* f = _fdopen(fd, "wb");
    if (f == nullptr) _close(fd);  // closes the handle too
    return f;
}

bool MakeFilePrivate(const std::string& path) { return SecureFile(path, win::Sharing::Private); }

}  // namespace platform
