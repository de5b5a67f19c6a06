#include "platform/windows/registry.h"

#include <algorithm>

#include "platform/windows/handle.h"
#include "platform/windows/text.h"

namespace platform::win {

namespace {

// REG_SZ data as text: up to its reported length, without the terminator(s).
std::string DataText(const BYTE* data, DWORD bytes) {
    std::wstring text(reinterpret_cast<const wchar_t*>(data), bytes / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return Utf8(text);
}

}  // namespace

std::optional<std::string> ReadRegString(HKEY root, const std::string& path,
                                         const std::string& name) {
    RegKey key;
    if (RegOpenKeyExW(root, Wide(path).c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return std::nullopt;
    const std::wstring wname = Wide(name);
    DWORD bytes = 0;
    if (RegQueryValueExW(key.get(), wname.c_str(), nullptr, nullptr, nullptr, &bytes) !=
        ERROR_SUCCESS)
        return std::nullopt;
    std::vector<BYTE> data(bytes + sizeof(wchar_t));
    if (RegQueryValueExW(key.get(), wname.c_str(), nullptr, nullptr, data.data(), &bytes) !=
        ERROR_SUCCESS)
        return std::nullopt;
    return DataText(data.data(), bytes);
}

bool WriteRegString(HKEY root, const std::string& path, const std::string& name,
                    const std::string& value) {
    RegKey key;
    if (RegCreateKeyExW(root, Wide(path).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(),
                        nullptr) != ERROR_SUCCESS)
        return false;
    const std::wstring wvalue = Wide(value);
    const DWORD bytes = static_cast<DWORD>((wvalue.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key.get(), Wide(name).c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(wvalue.c_str()), bytes) == ERROR_SUCCESS;
}

bool DeleteRegValue(HKEY root, const std::string& path, const std::string& name) {
    RegKey key;
    if (RegOpenKeyExW(root, Wide(path).c_str(), 0, KEY_SET_VALUE, key.put()) != ERROR_SUCCESS)
        return false;
    return RegDeleteValueW(key.get(), Wide(name).c_str()) == ERROR_SUCCESS;
}

std::vector<std::string> RegValueTexts(HKEY root, const std::string& path) {
    std::vector<std::string> texts;
    RegKey key;
    // Reading needs no more than the right to query: a user who may not
    // change the key still sees its ports.
    if (RegOpenKeyExW(root, Wide(path).c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return texts;
    // Room for the longest name and data the key holds now; a value that grew
    // since is read again with the room it says it needs.
    DWORD maxName = 0;
    DWORD maxData = 0;
    RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     &maxName, &maxData, nullptr, nullptr);
    std::vector<wchar_t> name(std::max<DWORD>(maxName, 260) + 1);
    std::vector<BYTE> data(std::max<DWORD>(maxData, 260) + sizeof(wchar_t));
    for (DWORD index = 0;;) {
        DWORD nameChars = static_cast<DWORD>(name.size());
        DWORD bytes = static_cast<DWORD>(data.size() - sizeof(wchar_t));
        const LONG r = RegEnumValueW(key.get(), index, name.data(), &nameChars, nullptr, nullptr,
                                     data.data(), &bytes);
        if (r == ERROR_MORE_DATA) {
            // The data size is reported; the name's is not, so it grows too.
            if (data.size() > (1u << 24) || name.size() > 32768) break;
            data.resize(std::max<size_t>(bytes, data.size() * 2) + sizeof(wchar_t));
            name.resize(std::min<size_t>(name.size() * 2, 32768));
            continue;
        }
        if (r != ERROR_SUCCESS) break;
        texts.push_back(DataText(data.data(), bytes));
        ++index;
    }
    return texts;
}

}  // namespace platform::win
