#pragma once
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

// The registry calls the backend shares. Key paths and names are UTF-8.
namespace platform::win {

// The string value name of root\path, read with RegQueryValueExW (its type
// is not examined); nullopt when the key or the value cannot be read.
std::optional<std::string> ReadRegString(HKEY root, const std::string& path,
                                         const std::string& name);

// Writes name as REG_SZ under root\path, creating the key; true on success.
bool WriteRegString(HKEY root, const std::string& path, const std::string& name,
                    const std::string& value);

// Deletes the value; true only when it was there and is now gone.
bool DeleteRegValue(HKEY root, const std::string& path, const std::string& name);

// The data of the values of root\path in registry order, each whatever its
// length; the list ends when none is left (or one cannot be read at all).
std::vector<std::string> RegValueTexts(HKEY root, const std::string& path);

}  // namespace platform::win
