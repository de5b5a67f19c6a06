#pragma once
#include <string>

namespace platform {

// The user's desktop folder: XDG_DESKTOP_DIR from $XDG_CONFIG_HOME/user-dirs.dirs
// (default ~/.config), else ~/Desktop. "" when that folder does not exist.
std::string DesktopDir();

// The same from given values (tests): configHome may be "" (home/.config is used).
std::string DesktopDirFrom(const std::string& configHome, const std::string& home);

// The folder a user-dirs.dirs text names as XDG_DESKTOP_DIR ("$HOME/..." or an
// absolute path), or "" when it names none.
std::string ParseUserDirsDesktop(const std::string& text, const std::string& home);

}  // namespace platform
