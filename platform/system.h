#pragma once
#include <string>

namespace platform {

// Full path of the running executable ("" when it cannot be read).
std::string ExecutablePath();

// Value of an environment variable, or "" when unset.
std::string GetEnv(const char* name);

// True when the path names an existing file or folder.
bool PathExists(const std::string& path);

// True when the path names an existing folder.
bool IsDirectory(const std::string& path);

// Creates one folder level; true when it exists afterwards.
bool MakeDirectory(const std::string& path);

// errno's text for the last failed call on this thread.
std::string LastErrorText();

}  // namespace platform
