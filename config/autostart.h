#pragma once
#include <string>

// Start-with-session registration named ExeBase (platform/autostart.h: the Run
// value on Windows, the XDG autostart entry "<ExeBase>.desktop" on Linux).
// 1 on success, 0 on any failure (deleting a missing one included).
int SetAutoRun(const std::string& command);
int DeleteAutoRunValue();
bool IsAutoRunRegistered();
// A double quote, the running executable's full path, a double quote (with
// the escapes the Linux entry's Exec= needs).
std::string AutoRunCommand();
