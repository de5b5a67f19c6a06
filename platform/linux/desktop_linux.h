#pragma once
#include <string>

// The XDG pieces behind DesktopDir and CreateShortcut, open to the Linux tests.
namespace platform {

// The desktop folder from given values: configHome may be "" (home/.config is
// used). "" when that folder does not exist.
std::string DesktopDirFrom(const std::string& configHome, const std::string& home);

// The folder a user-dirs.dirs text names as XDG_DESKTOP_DIR ("$HOME/..." or an
// absolute path), or "" when it names none.
std::string ParseUserDirsDesktop(const std::string& text, const std::string& home);

// The desktop launcher: Type=Application, Exec=target, Path=workDir, Icon.
std::string DesktopEntryText(const std::string& name, const std::string& target,
                             const std::string& workDir);

}  // namespace platform
