#include <windows.h>

#include "platform/ini_file.h"
#include "platform/windows/handle.h"
#include "platform/windows/text.h"

namespace platform {

using win::Wide;

namespace {

// A marker no INI value holds, to tell a missing key from one that is there.
const wchar_t kMissing[] = L"\x01\x02missing\x02\x01";

}  // namespace

bool IniFileReadable(const std::string& path) {
    const std::wstring wpath = Wide(path);
    const DWORD attributes = GetFileAttributesW(wpath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    // The profile API quietly reads a file it cannot open as an empty one, so
    // the file is opened here first: a locked or forbidden file is not written.
    win::Handle file(CreateFileW(wpath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid() && GetFileType(file.get()) == FILE_TYPE_DISK;
}

std::optional<std::string> ReadIniValue(const std::string& path, const std::string& section,
                                        const std::string& key) {
    if (!IniFileReadable(path)) return std::nullopt;
    const std::wstring wpath = Wide(path);
    const std::wstring wsection = Wide(section);
    const std::wstring wkey = Wide(key);
    // GetPrivateProfileStringW cuts a value to the buffer; the buffer grows
    // until the whole value fits, so the caller sees its real length.
    std::wstring buf(1024, L'\0');
    for (;;) {
        const DWORD n =
            GetPrivateProfileStringW(wsection.c_str(), wkey.c_str(), kMissing, buf.data(),
                                     static_cast<DWORD>(buf.size()), wpath.c_str());
        if (n + 1 < buf.size() || buf.size() >= 65536) {
            buf.resize(n);
            break;
        }
        buf.assign(buf.size() * 4, L'\0');
    }
    if (buf == kMissing) return std::nullopt;
    return win::Utf8(buf);
}

bool WriteIniValue(const std::string& path, const std::string& section, const std::string& key,
                   const std::string& value) {
    if (GetFileAttributesW(Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES && !IniFileReadable(path))
        return false;
    return WritePrivateProfileStringW(Wide(section).c_str(), Wide(key).c_str(), Wide(value).c_str(),
                                      Wide(path).c_str()) != FALSE;
}

bool CreateIniFile(const std::string& path, std::initializer_list<IniEntry> entries) {
    {
        win::Handle file(CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) return false;
    }
    for (const IniEntry& e : entries) {
        if (!WriteIniValue(path, e.section, e.key, e.value)) break;
    }
    return true;
}

}  // namespace platform
