#pragma once
#include <cstdio>
#include <filesystem>
#include <string>

// Texts are UTF-8 throughout the program; paths too. The functions here take
// and give UTF-8 on every platform (Windows converts at its wide calls).
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

// True when both paths name the same existing file (through links, other
// spellings or letter case where the file system ignores it).
bool SameFile(const std::string& a, const std::string& b);

// The system's text for the last failed call on this thread (errno, or
// GetLastError on Windows).
std::string LastErrorText();

// The folder separator of this platform ('/' or '\\').
char PathSeparator();
// True for a character that separates folders here ('/'; on Windows also '\\').
bool IsPathSeparator(char c);
// dir, a separator and name (no doubled separator; a dir of "" gives name).
std::string JoinPath(const std::string& dir, const std::string& name);

// ExeBase: the executable's file name without its extension. Windows drops
// the last four characters (".exe") when the name is longer than that and
// they start with a dot; Linux drops a trailing ".exe" only when there is one.
std::string ExecutableBaseName(const std::string& exeName);

// A UTF-8 path as the standard library's path, and back. Use these for every
// std::filesystem call and file stream: a narrow std::string is read in the
// ANSI code page on Windows, which spoils every non-ASCII name.
std::filesystem::path FsPath(const std::string& utf8);
std::string PathText(const std::filesystem::path& path);

// fopen for a UTF-8 path.
std::FILE* OpenFile(const std::string& path, const char* mode);

// For files only the user may read (the traffic log holds card transactions).
// Linux: the folder made (or, when it exists and is the user's, set) 0700; true
// when it exists afterwards. Windows: MakeDirectory (the profile's folders are
// the user's already).
bool MakePrivateDirectory(const std::string& path);
// Opens a file for binary appending, made 0600 on Linux (an existing file of
// the user's is set 0600); null on failure. Windows: OpenFile(path, "ab").
std::FILE* OpenPrivateAppend(const std::string& path);

}  // namespace platform
