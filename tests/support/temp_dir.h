#pragma once
#include <string>

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
