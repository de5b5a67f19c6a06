#pragma once
#include <string>
#include <vector>

// A fresh folder in the system's temporary folder, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Whole file as bytes ("" when missing).
std::string ReadFile(const std::string& path);
// Writes (replaces) a file; true on success.
bool WriteFile(const std::string& path, const std::string& bytes);

// What makes home the home of a program a test starts (HOME and the XDG
// folders inside it, the runtime folder too) and keeps it headless; the test
// adds what else the program may see.
std::vector<std::string> OwnHomeEnvironment(const TempDir& home);
