#include "update/scripts.h"

// The self-management scripts as batch files for cmd.exe. A program file that
// is still running cannot be deleted or replaced on Windows, so each script
// waits by retrying the step that needs the program gone, once a second (ping
// to the loopback address is the batch file's sleep), for at most the run's
// wait. Each step is judged by its errorlevel as well as by the files it
// leaves. Only the full paths named here are touched: no wildcards, no /s.

namespace {

// A path for a batch line: in double quotes (which no Windows file name holds),
// with % doubled so that cmd does not read it as a variable, and every
// separator a backslash (cmd's commands take a slash for a switch).
std::string Q(const std::string& path) {
    std::string out = "\"";
    for (char c : path) {
        if (c == '%') out += '%';
        out += c == '/' ? '\\' : c;
    }
    out += '"';
    return out;
}

std::string Header(const std::string& what) {
    return "@echo off\r\nrem Written by the program: " + what + "\r\nset tries=0\r\n";
}

// A retry of the lines before it: back to label after a second, or on to
// giveUp once the tries are spent.
std::string RetryLoop(const ScriptRun& run, const std::string& label, const std::string& giveUp) {
    const int tries = run.waitSeconds > 0 ? run.waitSeconds : 1;
    return "set /a tries+=1\r\n"
           "if %tries% geq " +
           std::to_string(tries) + " goto " + giveUp +
           "\r\n"
           "ping -n 2 127.0.0.1 >nul\r\n"
           "goto " +
           label + "\r\n";
}

std::string DelFile(const std::string& path) { return "del /f /q " + Q(path) + " >nul 2>&1\r\n"; }

std::string DelFolder(const std::string& path) {
    return "rmdir /s /q " + Q(path) + " >nul 2>&1\r\n";
}

// Starts exe (with the script's first argument, as the program always has
// been started), in the run's start folder where that still exists. label
// makes the lines' own labels unique within a script.
std::string Start(const ScriptRun& run, const std::string& exe, const std::string& label) {
    const std::string plain = "start \"\" " + Q(exe) + " %1\r\n";
    if (run.startDir.empty()) return plain;
    // "C:\" would end its quoted text with a backslash: "C:\." names the same.
    std::string dir = run.startDir;
    if (dir.back() == '\\' || dir.back() == '/') dir += '.';
    return "if not exist " + Q(dir + "\\") + " goto " + label + "here\r\n" + "start \"\" /D " +
           Q(dir) + " " + Q(exe) + " %1\r\n" + "goto " + label + "started\r\n" + ":" + label +
           "here\r\n" + plain + ":" + label + "started\r\n";
}

// Waits (within the run's wait, whatever of it is left) until the program's
// process has ended, then goes on at label: a copy started while the old one
// still runs leaves at once as the second copy. Where tasklist is missing, or
// the pid is not known, nothing is waited for.
std::string WaitForEnd(const ScriptRun& run, const std::string& label) {
    if (run.pid <= 0) return "";
    const std::string pid = std::to_string(run.pid);
    return ":running\r\n"
           "tasklist /nh /fi \"PID eq " +
           pid + "\" 2>nul | find \" " + pid + " \" >nul\r\n" + "if errorlevel 1 goto " + label +
           "\r\n" + RetryLoop(run, "running", label) + ":" + label + "\r\n";
}

// A batch file ends by deleting itself; cmd then finds no next line and stops.
std::string End(const ScriptRun& run) { return ":done\r\n" + DelFile(run.self); }

}  // namespace

std::string ScriptFileName(const std::string& base) { return base + ".bat"; }

std::string UpdateScriptText(const ScriptRun& run, const std::string& downloadPath,
                             const std::string& installedExe) {
    // The download is staged beside the installed program first, so a copy
    // that fails never costs the working program; the move over it succeeds
    // once the program has ended and released its file. Whatever became of
    // the copy and the move, the program in place is started.
    const std::string staged = installedExe + ".new";
    return Header("replaces the installed program with the download once it has ended") +
           "if not exist " + Q(downloadPath) + " goto restart\r\n" + DelFile(staged) +
           "copy /y /b " + Q(downloadPath) + " " + Q(staged) + " >nul 2>&1\r\n" +
           "if errorlevel 1 goto restart\r\n"
           "if not exist " +
           Q(staged) + " goto restart\r\n" +
           ":wait\r\n"
           "move /y " +
           Q(staged) + " " + Q(installedExe) + " >nul 2>&1\r\n" +
           "if errorlevel 1 goto again\r\n"
           "if not exist " +
           Q(staged) + " goto restart\r\n" + ":again\r\n" + RetryLoop(run, "wait", "restart") +
           ":restart\r\n" + DelFile(staged) + WaitForEnd(run, "ended") + "if not exist " +
           Q(installedExe) + " goto cleanup\r\n" + Start(run, installedExe, "s") + ":cleanup\r\n" +
           DelFile(downloadPath) + End(run);
}

std::string KillfileScriptText(const ScriptRun& run, const std::string& oldDir,
                               const std::string& exeName, const std::string& iniName,
                               const std::string& installedExe) {
    // The old copy goes only while the installed one is there to take its place.
    const std::string exe = JoinPath(oldDir, exeName);
    return Header("removes the old copy once it has ended") + "if not exist " + Q(installedExe) +
           " goto done\r\n" + ":wait\r\n" + DelFile(exe) + "if not exist " + Q(exe) +
           " goto gone\r\n" + RetryLoop(run, "wait", "done") + ":gone\r\n" +
           DelFile(JoinPath(oldDir, iniName)) + DelFolder(JoinPath(oldDir, "CATLOG")) + End(run);
}

std::string RunexternScriptText(const ScriptRun& run, const std::string& installedExe,
                                const std::string& oldExe) {
    // The old copy's file goes (killfile) once it has ended; a copy started
    // before that would see it running and end at once. Once the wait has run
    // out, whichever copy exists is started.
    return Header("starts the installed copy once the old one has ended") + ":wait\r\n" +
           "if not exist " + Q(oldExe) + " goto start\r\n" + RetryLoop(run, "wait", "start") +
           ":start\r\n"
           "if not exist " +
           Q(installedExe) + " goto old\r\n" + Start(run, installedExe, "i") +
           "goto done\r\n"
           ":old\r\n"
           "if not exist " +
           Q(oldExe) + " goto done\r\n" + Start(run, oldExe, "o") + End(run);
}

std::string KillfileallScriptText(const ScriptRun& run, const std::string& exeDir,
                                  const std::string& installDir, const std::string& exeName,
                                  const std::string& iniName) {
    const std::string exe = JoinPath(exeDir, exeName);
    const std::string installed = JoinPath(installDir, exeName);
    return Header("uninstalls the program once it has ended") + ":wait\r\n" + DelFile(exe) +
           DelFile(installed) + "if exist " + Q(exe) + " goto again\r\n" + "if exist " +
           Q(installed) + " goto again\r\n" + "goto gone\r\n" + ":again\r\n" +
           RetryLoop(run, "wait", "done") + ":gone\r\n" + DelFile(JoinPath(exeDir, iniName)) +
           DelFile(JoinPath(installDir, iniName)) + DelFolder(JoinPath(exeDir, "CATLOG")) +
           DelFolder(JoinPath(installDir, "CATLOG")) + End(run);
}
