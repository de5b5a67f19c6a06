#include "platform/windows/registry.h"

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
    for (DWORD index = 0;; ++index) {
        wchar_t name[260];
        DWORD nameChars = 260;
        BYTE data[260 + sizeof(wchar_t)] = {};
        DWORD bytes = 260;
        if (RegEnumValueW(key.get(), index, name, &nameChars, nullptr, nullptr, data, &bytes) !=
            ERROR_SUCCESS)
            break;
        texts.push_back(DataText(data, bytes));
    }
    return texts;
}

}  // namespace platform::win
