#include <windows.h>
// After windows.h, which it builds on.
#include <tlhelp32.h>

#include <string_view>

#include "platform/process_list.h"
#include "platform/windows/handle.h"
#include "platform/windows/text.h"

namespace platform {

int CountRunningCopies(const std::string& name) {
    // An empty name would match every process.
    if (name.empty()) return 0;
    win::Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) return 0;
    const std::wstring wanted = win::Wide(name);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        // The name at the very start of szExeFile, letter case counting.
        if (std::wstring_view(entry.szExeFile).substr(0, wanted.size()) == wanted) ++count;
    }
    return count;
}

}  // namespace platform
