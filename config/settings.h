#pragma once
#include <atomic>
#include <cstdint>
#include <string>

// The five process-wide settings. Loaded once by LoadSettings and changed only
// by the settings dialog, which writes the INI key at the same moment.
// All but g_logEnabled are touched by the user-interface thread only.
extern int32_t g_comPort;            // n of "COMn"; 0 = none (or a device path, below)
extern std::string g_comPortPath;    // the absolute device path when the INI names one, else ""
extern std::string g_comSpeed;       // "9600", "38400", "57600" or "115200" once loaded
extern bool g_showStatusBox;         // show the status window once connected
extern bool g_autoConnect;           // connect at start and after applying changes
extern std::atomic<bool> g_logEnabled;  // write the traffic log; read by the relay workers

// Puts the five values back to their pre-load state (tests).
void ResetSettings();

// Loads the settings from the INI file at iniPath, creating it with the five
// defaults when missing, and remembers the path for SaveSetting.
// 1 when read; 0 when the file was missing and could not be created, or cannot
// be read (a folder in its place, no permission): then the values stay as they
// were and an empty Event line goes to the traffic log. Values longer than 511
// characters read as missing.
int LoadSettings(const std::string& iniPath);

// Writes one key into the remembered INI file (created when missing), keeping
// the other sections, keys and comments in their order; the file is replaced
// whole (written beside it and renamed). A file that cannot be read is left
// untouched, and a name or value holding a line break is refused.
void SaveSetting(const std::string& section, const std::string& key, const std::string& value);

// The INI path SaveSetting writes to (set by LoadSettings or SetSettingsPath).
void SetSettingsPath(const std::string& iniPath);

// 0..3 for "9600", "38400", "57600", anything else.
int SpeedIndex(const std::string& speed);

// The configured port's name as port lists show it: "COMn", the device path,
// or "" when none is configured.
std::string ConfiguredPortName();

