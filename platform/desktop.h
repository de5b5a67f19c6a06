#pragma once
#include <string>

namespace platform {

// The user's desktop folder, "" when it does not exist. Windows: the known
// folder FOLDERID_Desktop (SHGetKnownFolderPath). Linux:
// XDG_DESKTOP_DIR from $XDG_CONFIG_HOME/user-dirs.dirs (default ~/.config),
// else ~/Desktop.
std::string DesktopDir();

// The file name of the desktop shortcut for a program: "<base>.lnk" on
// Windows, "<base>.desktop" (a launcher) on Linux.
std::string ShortcutFileName(const std::string& base);

enum class ShortcutResult {
    Saved,       // the shortcut file is written
    SaveFailed,  // the shortcut was made but its file could not be written
    NoObject,    // the system could not make a shortcut at all (nothing written)
};

// Writes the shortcut file linkPath that starts target in workDir. Windows:
// a shell link (IShellLinkW, IPersistFile). Linux: a desktop launcher
// (Type=Application, Exec, Path, Icon), marked executable.
ShortcutResult CreateShortcut(const std::string& target, const std::string& workDir,
                              const std::string& linkPath);

}  // namespace platform
