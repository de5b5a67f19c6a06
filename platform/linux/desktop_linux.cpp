#include "platform/desktop.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/linux/desktop_linux.h"
#include "platform/system.h"

namespace platform {

namespace {

// A desktop entry string value: backslash and control characters escaped.
std::string EntryValue(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            default: out += c;
        }
    }
    return out;
}

// One Exec= argument: double-quoted with ", `, $ and \ escaped, % doubled.
std::string ExecArgument(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    quoted += '"';
    return EntryValue(quoted);
}

}  // namespace

std::string ParseUserDirsDesktop(const std::string& text, const std::string& home) {
    std::istringstream in(text);
    std::string line;
    std::string found;
    while (std::getline(in, line)) {
        size_t i = line.find_first_not_of(" \t");
        if (i == std::string::npos || line[i] == '#') continue;
        static const std::string kKey = "XDG_DESKTOP_DIR=";
        if (line.compare(i, kKey.size(), kKey) != 0) continue;
        std::string value = line.substr(i + kKey.size());
        while (!value.empty() && (value.back() == '\r' || value.back() == ' ' || value.back() == '\t'))
            value.pop_back();
        if (value.size() < 2 || value.front() != '"' || value.back() != '"') continue;
        value = value.substr(1, value.size() - 2);
        // The format allows only "$HOME/..." or an absolute path; \" and \\ escape.
        std::string unescaped;
        for (size_t k = 0; k < value.size(); ++k) {
            if (value[k] == '\\' && k + 1 < value.size()) ++k;
            unescaped += value[k];
        }
        if (unescaped == "$HOME") {
            found = home;
        } else if (unescaped.rfind("$HOME/", 0) == 0) {
            found = home + unescaped.substr(5);
        } else if (!unescaped.empty() && unescaped.front() == '/') {
            found = unescaped;
        } else {
            continue;
        }
    }
    return found;
}

std::string DesktopDirFrom(const std::string& configHome, const std::string& home) {
    const std::string config = !configHome.empty() ? configHome : home + "/.config";
    std::ifstream in(config + "/user-dirs.dirs", std::ios::binary);
    std::string dir;
    if (in) {
        std::ostringstream text;
        text << in.rdbuf();
        dir = ParseUserDirsDesktop(text.str(), home);
    }
    if (dir.empty()) {
        if (home.empty()) return {};
        dir = home + "/Desktop";
    }
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return IsDirectory(dir) ? dir : std::string();
}

std::string DesktopDir() { return DesktopDirFrom(GetEnv("XDG_CONFIG_HOME"), GetEnv("HOME")); }

std::string ShortcutFileName(const std::string& base) { return base + ".desktop"; }

std::string DesktopEntryText(const std::string& name, const std::string& target,
                             const std::string& workDir) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Version=1.0\n"
           "Name=" + EntryValue(name) + "\n"
           "Exec=" + ExecArgument(target) + "\n"
           "Path=" + EntryValue(workDir) + "\n"
           "Icon=network-transmit-receive\n"
           "Terminal=false\n";
}

ShortcutResult CreateShortcut(const std::string& target, const std::string& workDir,
                              const std::string& linkPath) {
    namespace fs = std::filesystem;
    const std::string name = fs::path(linkPath).stem().string();
    {
        std::ofstream out(linkPath, std::ios::binary | std::ios::trunc);
        if (!out) return ShortcutResult::SaveFailed;
        out << DesktopEntryText(name, target, workDir);
        out.close();
        if (!out) return ShortcutResult::SaveFailed;
    }
    // Desktops start only launchers that are marked executable.
    std::error_code ec;
    fs::permissions(linkPath, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                    fs::perm_options::add, ec);
    return ShortcutResult::Saved;
}

}  // namespace platform
