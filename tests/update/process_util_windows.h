#pragma once
#include <windows.h>

#include <string>
#include <vector>

// What the Windows program tests look at from outside.

// %HOMEDRIVE%\QAVEX of the test's prefix.
std::string InstallDir();
// The running processes of brisken.exe.
std::vector<DWORD> Copies();
