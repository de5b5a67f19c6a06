#include <windows.h>

#include "platform/ini_file.h"
#include "platform/windows/handle.h"
#include "platform/windows/text.h"

namespace platform {

using win::Wide;

namespace {

// A marker no INI value holds, to tell a missing key from one that is there.
const wchar_t kMissing[] = L"\x01\x02missing\x02\x01";

const char kUtf8Mark[] = "\xEF\xBB\xBF";

// The whole file; nullopt when it cannot be read (or is larger than any
// settings file).
std::optional<std::string> ReadBytes(const std::wstring& path) {
    win::Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file.valid() || !GetFileSizeEx(file.get(), &size) || size.QuadPart > (16 << 20))
        return std::nullopt;
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!bytes.empty() &&
        (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
         got != bytes.size()))
        return std::nullopt;
    return bytes;
}

bool WriteBytes(HANDLE file, const std::string& bytes) {
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

bool StartsWithUtf8Mark(const std::wstring& path) {
    win::Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    char head[3] = {};
    DWORD got = 0;
    return file.valid() && ReadFile(file.get(), head, 3, &got, nullptr) && got == 3 &&
           std::string(head, 3) == kUtf8Mark;
}

// Notepad's "UTF-8 (with BOM)" puts EF BB BF before the first section; the
// profile API reads a file without the UTF-16 mark in the ANSI code page, so
// the mark would hide that section and a write would append it again. Such a
// file is read and written through a UTF-16 copy in the temporary folder,
// which the API reads for what it is; a write goes back as UTF-8 with its
// mark, everything else in the file kept.
class Utf16Copy {
public:
    // strict: bytes that are not UTF-8 make no copy (nothing may be lost
    // when the file is written back).
    Utf16Copy(const std::wstring& original, bool strict) {
        const std::optional<std::string> bytes = ReadBytes(original);
        if (!bytes || bytes->compare(0, 3, kUtf8Mark) != 0) return;
        const char* text = bytes->data() + 3;
        const int length = static_cast<int>(bytes->size() - 3);
        const DWORD flags = strict ? MB_ERR_INVALID_CHARS : 0;
        const int n =
            length == 0 ? 0 : MultiByteToWideChar(CP_UTF8, flags, text, length, nullptr, 0);
        if (length != 0 && n == 0) return;
        std::wstring wide(static_cast<size_t>(n), L'\0');
        if (n != 0) MultiByteToWideChar(CP_UTF8, flags, text, length, wide.data(), n);
        wchar_t folder[MAX_PATH + 1] = {};
        wchar_t name[MAX_PATH + 1] = {};
        if (GetTempPathW(MAX_PATH + 1, folder) == 0 ||
            GetTempFileNameW(folder, L"ini", 0, name) == 0)
            return;
        m_path = name;
        win::Handle file(CreateFileW(name, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                     FILE_ATTRIBUTE_TEMPORARY, nullptr));
        const std::string utf16 =
            "\xFF\xFE" +
            std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
        m_ok = file.valid() && WriteBytes(file.get(), utf16);
    }
    ~Utf16Copy() {
        if (m_path.empty()) return;
        // The API may keep the file it used last: let it go before the file does.
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, m_path.c_str());
        DeleteFileW(m_path.c_str());
    }
    Utf16Copy(const Utf16Copy&) = delete;
    Utf16Copy& operator=(const Utf16Copy&) = delete;

    bool ok() const { return m_ok; }
    const std::wstring& path() const { return m_path; }

    // The copy back over the original as UTF-8 with the mark: written beside
    // it and moved over it, so a failure leaves the old settings whole; where
    // nothing can be made beside it, written in place.
    bool WriteBack(const std::wstring& original) const {
        const std::optional<std::string> bytes = ReadBytes(m_path);
        if (!bytes || bytes->size() < 2 || bytes->compare(0, 2, "\xFF\xFE") != 0) return false;
        const std::wstring wide(reinterpret_cast<const wchar_t*>(bytes->data() + 2),
                                (bytes->size() - 2) / sizeof(wchar_t));
        const std::string text = kUtf8Mark + win::Utf8(wide);
        const std::wstring beside = original + L".tmp";
        {
            win::Handle file(CreateFileW(beside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
            if (file.valid() && WriteBytes(file.get(), text) && FlushFileBuffers(file.get())) {
                file.Reset();
                if (MoveFileExW(beside.c_str(), original.c_str(),
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                    return true;
            }
        }
        DeleteFileW(beside.c_str());
        win::Handle file(CreateFileW(original.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        return file.valid() && WriteBytes(file.get(), text) && SetEndOfFile(file.get());
    }

private:
    std::wstring m_path;
    bool m_ok = false;
};

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
    std::wstring wpath = Wide(path);
    std::optional<Utf16Copy> copy;
    if (StartsWithUtf8Mark(wpath)) {
        copy.emplace(wpath, false);
        if (!copy->ok()) return std::nullopt;
        wpath = copy->path();
    }
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
    if (StartsWithUtf8Mark(Wide(path))) {
        const Utf16Copy copy(Wide(path), true);
        return copy.ok() &&
               WritePrivateProfileStringW(Wide(section).c_str(), Wide(key).c_str(),
                                          Wide(value).c_str(), copy.path().c_str()) != FALSE &&
               copy.WriteBack(Wide(path));
    }
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
