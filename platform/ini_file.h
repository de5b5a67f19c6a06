#pragma once
#include <initializer_list>
#include <optional>
#include <string>

// Access to a Windows profile (INI) file: sections in square brackets, one
// key=value line per key. Section and key names match without regard to case
// and values are read with the blanks around them removed. Windows uses
// GetPrivateProfileStringW / WritePrivateProfileStringW; Linux SimpleIni with
// the same semantics. What the values mean is the caller's business.
namespace platform {

// True when path names a file whose contents can be read: not a folder, a
// FIFO or a file without read permission. A file that cannot be read is
// never written to: its contents would be lost.
bool IniFileReadable(const std::string& path);

// The value of key in section; nullopt when the file cannot be read, or the
// section or key is missing (the first of repeated keys counts).
std::optional<std::string> ReadIniValue(const std::string& path, const std::string& section,
                                        const std::string& key);

// Replaces the key's value in place, or appends the key (and its section when
// that is missing too), keeping everything else in the file. A file that does
// not exist is created. False when the file cannot be read or written.
bool WriteIniValue(const std::string& path, const std::string& section, const std::string& key,
                   const std::string& value);

struct IniEntry {
    const char* section;
    const char* key;
    const char* value;
};

// Creates the file, which must not exist yet, holding these keys in this
// order. False when the file cannot be created; a write that fails part way
// leaves a shorter file (its missing keys read as missing).
bool CreateIniFile(const std::string& path, std::initializer_list<IniEntry> entries);

}  // namespace platform
