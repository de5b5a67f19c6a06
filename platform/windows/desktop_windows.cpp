#include <windows.h>
// After windows.h, which they build on.
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "platform/desktop.h"
#include "platform/system.h"
#include "platform/windows/text.h"

namespace platform {

namespace {

// COM for this call only; each call stands alone, as the shortcut is made once.
class ComScope {
public:
    ComScope() : m_ok(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComScope() {
        if (m_ok) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    bool m_ok;
};

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() {
        if (m_p) m_p->Release();
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    T* operator->() const { return m_p; }
    T* get() const { return m_p; }
    void** put() { return reinterpret_cast<void**>(&m_p); }

private:
    T* m_p = nullptr;
};

}  // namespace

std::string DesktopDir() {
    // The known folder follows a desktop redirected elsewhere (into OneDrive,
    // onto a server); the old "Shell Folders" value may still name the old one.
    wchar_t* path = nullptr;
    const HRESULT hr = SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &path);
    std::string dir;
    if (SUCCEEDED(hr) && path != nullptr) dir = win::Utf8(path, wcslen(path));
    CoTaskMemFree(path);
    return IsDirectory(dir) ? dir : std::string();
}

std::string ShortcutFileName(const std::string& base) { return base + ".lnk"; }

ShortcutResult CreateShortcut(const std::string& target, const std::string& workDir,
                              const std::string& linkPath) {
    ComScope com;
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                link.put())))
        return ShortcutResult::NoObject;
    link->SetPath(win::Wide(target).c_str());
    link->SetWorkingDirectory(win::Wide(workDir).c_str());
    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.put())))
        return ShortcutResult::SaveFailed;
    return file->Save(win::Wide(linkPath).c_str(), TRUE) == S_OK ? ShortcutResult::Saved
                                                                 : ShortcutResult::SaveFailed;
}

}  // namespace platform
