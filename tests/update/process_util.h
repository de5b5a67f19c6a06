#pragma once
#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// Starting, waiting for and ending the processes of the self-management tests.

// Starts program with args in dir with exactly env (Linux; Windows passes the
// test's own environment); returns its pid (-1 on failure).
int StartProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::string& dir, const std::vector<std::string>& env);
// Waits for a child started above (bounded); kills it by pid when it overstays.
// Returns its exit status, or -1.
int WaitChild(int pid, std::chrono::milliseconds limit);
// True when a process with this pid exists (and is not a zombie).
bool ProcessAlive(int pid);
// Ends a process by pid that is still there.
void EndProcess(int pid);
// True when path is a regular file this platform would run (Linux: with the
// owner's execute bit; Windows runs any file by its contents).
bool IsRunnableFile(const std::string& path);
// Polls cond every 20 ms until it holds or limit passes.
bool WaitUntil(const std::function<bool()>& cond, std::chrono::milliseconds limit);

// Sends this process's HTTP requests to a proxy the way the system's settings
// do (Linux: http_proxy in the environment, no_proxy cleared; Windows: the
// user's Internet settings), and puts the settings back when it goes.
class ScopedProxy {
public:
    explicit ScopedProxy(const std::string& hostPort);
    ~ScopedProxy();
    ScopedProxy(const ScopedProxy&) = delete;
    ScopedProxy& operator=(const ScopedProxy&) = delete;

private:
    std::vector<std::pair<std::string, std::string>> m_saved;  // name, value ("\x01" = unset)
};
