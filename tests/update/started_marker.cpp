// Stands in for the program that a batch script starts: appends its own
// file's size and its current directory to "started.txt" beside itself. What
// it does then is told by the last word of its own file: CONFIRM leaves the
// clean-start mark "<ExeBase>.started", CRASH crashes, HANG runs on without a
// mark; anything else ends at once.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

// A filter is a WINAPI function: on i686 a lambda is not one.
LONG WINAPI EndAsACrash(EXCEPTION_POINTERS*) { return EXCEPTION_EXECUTE_HANDLER; }

}  // namespace

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
    std::ifstream in(exe, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const auto endsWith = [&](const std::string& word) {
        return bytes.size() >= word.size() &&
               bytes.compare(bytes.size() - word.size(), word.size(), word) == 0;
    };
    if (endsWith("CONFIRM"))
        std::ofstream(exe.parent_path() / (exe.stem().wstring() + L".started")) << "1";
    if (endsWith("HANG")) Sleep(30000);
    if (endsWith("CRASH")) {
        // An access violation that ends the process as a crash does where no
        // debugger takes it (Wine would start its own and hold the process).
        SetErrorMode(SEM_NOGPFAULTERRORBOX | SEM_FAILCRITICALERRORS);
        SetUnhandledExceptionFilter(EndAsACrash);
        *static_cast<volatile int*>(nullptr) = 0;
    }
    return 0;
}
