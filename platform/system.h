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

// Files only the user may open: the trace holds card transactions, the
// update's download becomes the program. Linux: folders 0700, files 0600.
// Windows: an explicit, protected DACL with full control for the user, SYSTEM
// and Administrators and nobody else, given at creation (a file too, not by
// inheritance alone). What exists already is judged on the opened file or
// folder itself, never through a link: one of the user's own is given exactly
// that access; one of another owner is used only when that owner is the
// system (root; SYSTEM or Administrators) and nobody else may open it.

// Makes one folder level private, or judges one that exists; true when the
// folder exists afterwards and may take private files.
bool MakePrivateDirectory(const std::string& path);
// Appends bytes to the file with one write, creating it private; an existing
// file is judged the same way (nothing is written into one that fails).
// Others may hold the file open meanwhile (Windows: read, write and delete
// sharing; writes go to the end whoever else writes). True when every byte
// was written; the bytes are with the system when it returns.
bool AppendToPrivateFile(const std::string& path, const std::string& bytes);
// A new, empty, private file for binary writing. A file already at path is
// removed first, so no earlier handle or wider access reaches what is written.
// Null on failure.
std::FILE* CreatePrivateFile(const std::string& path);
// Judges an existing file as above; true when it is private afterwards.
bool MakeFilePrivate(const std::string& path);

// The install folder and the program in it. Windows: one folder for every
// account of the PC; every local user may read and run them, only the user
// who installs, SYSTEM and Administrators may change them. Linux: the folder
// is under HOME, one account's: 0700, the program 0700. One of the user's own
// gets exactly that access; one of another owner is used (run from, read)
// only when nobody but that owner, the system and the user may change it.
// True when it may be used so afterwards.
bool MakeProgramDirectory(const std::string& path);
bool MakeProgramFile(const std::string& path);
// True when the folder is the user's own (no link) and the user may add and
// remove files in it: only then is an update downloaded into it.
bool IsOwnWritableDirectory(const std::string& path);

}  // namespace platform
