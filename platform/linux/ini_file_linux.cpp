#include "platform/ini_file.h"

#define SI_NO_CONVERSION  // the file is plain bytes; no wide-character interface needed
#include <SimpleIni.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace platform {

namespace {

namespace fs = std::filesystem;

// Whole file into bytes; false when it is not a regular file or cannot be read.
// A FIFO is refused before it is opened: opening it would wait for a writer.
bool ReadWholeFile(const std::string& path, std::string& bytes) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream out;
    out << in.rdbuf();
    if (in.bad()) return false;
    bytes = out.str();
    return true;
}

bool LoadIni(const std::string& bytes, CSimpleIniA& ini) {
    ini.SetSpaces(false);   // written as key=value
    ini.SetMultiKey(true);  // repeated keys are kept, the first one counts
    return ini.LoadData(bytes.data(), bytes.size()) >= 0;
}

bool WriteInPlace(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

// Replaces the file's contents whole: written beside it and renamed over it, so a
// full disk or a crash leaves the old settings rather than half a file. Where no
// file can be made beside it (a read-only folder), it is rewritten in place.
bool ReplaceFile(const std::string& path, const std::string& bytes) {
    std::error_code ec;
    std::string target = path;
    if (fs::is_symlink(path, ec)) {
        const fs::path real = fs::canonical(path, ec);
        if (!ec) target = real.string();
    }
    const std::string tmp = target + ".tmp";
    fs::remove(tmp, ec);  // a leftover, or a link that would be written through
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out) return WriteInPlace(target, bytes);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            fs::remove(tmp, ec);
            return WriteInPlace(target, bytes);
        }
    }
    const auto perms = fs::status(target, ec).permissions();
    if (!ec) fs::permissions(tmp, perms, ec);
    fs::rename(tmp, target, ec);
    if (ec) {
        fs::remove(tmp, ec);
        return WriteInPlace(target, bytes);
    }
    return true;
}

bool UsesCrLf(const std::string& bytes) {
    const auto lf = bytes.find('\n');
    return lf != std::string::npos && lf > 0 && bytes[lf - 1] == '\r';
}

std::string ToCrLf(const std::string& lf) {
    std::string out;
    out.reserve(lf.size() + lf.size() / 8);
    for (char c : lf) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

}  // namespace

bool IniFileReadable(const std::string& path) {
    std::string bytes;
    CSimpleIniA ini;
    return ReadWholeFile(path, bytes) && LoadIni(bytes, ini);
}

std::optional<std::string> ReadIniValue(const std::string& path, const std::string& section,
                                        const std::string& key) {
    std::string bytes;
    CSimpleIniA ini;
    if (!ReadWholeFile(path, bytes) || !LoadIni(bytes, ini)) return std::nullopt;
    // With multi-key loading the first of repeated keys is the one returned.
    const char* v = ini.GetValue(section.c_str(), key.c_str(), nullptr);
    if (v == nullptr) return std::nullopt;
    return std::string(v);
}

bool WriteIniValue(const std::string& path, const std::string& section, const std::string& key,
                   const std::string& value) {
    std::string bytes;
    CSimpleIniA ini;
    std::error_code ec;
    if (fs::exists(path, ec) && (!ReadWholeFile(path, bytes) || !LoadIni(bytes, ini))) return false;
    if (ini.SetValue(section.c_str(), key.c_str(), value.c_str(), nullptr, true) < 0) return false;
    std::string out;
    // A file that began with the UTF-8 mark (Notepad's "UTF-8 with BOM") keeps it.
    if (ini.Save(out, true) < 0) return false;
    if (UsesCrLf(bytes)) out = ToCrLf(out);
    return ReplaceFile(path, out);
}

bool CreateIniFile(const std::string& path, std::initializer_list<IniEntry> entries) {
    std::ofstream out(path, std::ios::app);
    if (!out) return false;
    // One key per line under its section, LF line ends.
    std::string text;
    std::string section;
    for (const IniEntry& e : entries) {
        if (e.section != section) {
            section = e.section;
            text += "[" + section + "]\n";
        }
        text += std::string(e.key) + "=" + e.value + "\n";
    }
    out << text;
    return true;
}

}  // namespace platform
