// Stands in for the program that a batch script starts: appends its own
// file's size and its current directory to "started.txt" beside itself, and
// ends.
#include <windows.h>

#include <filesystem>
#include <fstream>

int main() {
    namespace fs = std::filesystem;
    wchar_t self[32768] = {};
    const DWORD n = GetModuleFileNameW(nullptr, self, 32768);
    if (n == 0 || n >= 32768) return 1;
    const fs::path exe(self);
    std::error_code ec;
    const auto size = fs::file_size(exe, ec);
    const fs::path cwd = fs::current_path(ec);
    const std::u8string where = cwd.u8string();
    std::ofstream(exe.parent_path() / "started.txt", std::ios::app)
        << size << "\n"
        << std::string(where.begin(), where.end()) << "\n";
    return 0;
}
