#include "update/scripts.h"

// The self-management scripts as batch files for cmd.exe. A program file that
// is still running cannot be deleted or replaced on Windows, so each script
// waits by retrying the step that needs the program gone, once a second (ping
// to the loopback address is the batch file's sleep), at most as long as the
// sh scripts wait. Only the full paths named here are touched: no wildcards,
// no /s.

namespace {

constexpr int kTries = kScriptWaitTries / 5;  // one a second: the sh scripts' 0.2 s tries

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
std::string RetryLoop(const std::string& label, const std::string& giveUp) {
    return "set /a tries+=1\r\n"
           "if %tries% geq " +
           std::to_string(kTries) + " goto " + giveUp +
           "\r\n"
           "ping -n 2 127.0.0.1 >nul\r\n"
           "goto " +
           label + "\r\n";
}

std::string DelFile(const std::string& path) { return "del /f /q " + Q(path) + " >nul 2>&1\r\n"; }

std::string DelFolder(const std::string& path) {
    return "rmdir /s /q " + Q(path) + " >nul 2>&1\r\n";
}

// A batch file ends by deleting itself; cmd then finds no next line and stops.
std::string End(const std::string& self) { return ":done\r\n" + DelFile(self); }

}  // namespace

std::string ScriptFileName(const std::string& base) { return base + ".bat"; }

std::string UpdateScriptText(int, const std::string& downloadPath, const std::string& installedExe,
                             const std::string& self) {
    // The download is staged beside the installed program first, so a copy
    // that fails never costs the working program; the move over it succeeds
    // once the program has ended.
    const std::string staged = installedExe + ".new";
    return Header("replaces the installed program with the download once it has ended") +
           "if not exist " + Q(downloadPath) + " goto done\r\n" + DelFile(staged) + "copy /y " +
           Q(downloadPath) + " " + Q(staged) + " >nul\r\n" + "if not exist " + Q(staged) +
           " goto failed\r\n" +
           ":wait\r\n"
           "move /y " +
           Q(staged) + " " + Q(installedExe) + " >nul 2>&1\r\n" + "if not exist " + Q(staged) +
           " goto start\r\n" + RetryLoop("wait", "failed") +
           ":start\r\n"
           "start \"\" " +
           Q(installedExe) +
           " %1\r\n"
           ":failed\r\n" +
           DelFile(staged) + DelFile(downloadPath) + End(self);
}

std::string KillfileScriptText(int, const std::string& oldDir, const std::string& exeName,
                               const std::string& iniName, const std::string& self) {
    const std::string exe = JoinPath(oldDir, exeName);
    return Header("removes the old copy once it has ended") + ":wait\r\n" + DelFile(exe) +
           "if not exist " + Q(exe) + " goto gone\r\n" + RetryLoop("wait", "done") + ":gone\r\n" +
           DelFile(JoinPath(oldDir, iniName)) + DelFolder(JoinPath(oldDir, "CATLOG")) + End(self);
}

std::string RunexternScriptText(int, const std::string& installedExe, const std::string& oldExe,
                                const std::string& self) {
    // The old copy's file goes (killfile) once it has ended; a copy started
    // before that would see it running and end at once.
    return Header("starts the installed copy once the old one has ended") + ":wait\r\n" +
           "if not exist " + Q(oldExe) + " goto start\r\n" + RetryLoop("wait", "start") +
           ":start\r\n"
           "if exist " +
           Q(installedExe) + " start \"\" " + Q(installedExe) + " %1\r\n" + End(self);
}

std::string KillfileallScriptText(int, const std::string& exeDir, const std::string& installDir,
                                  const std::string& exeName, const std::string& iniName,
                                  const std::string& self) {
    const std::string exe = JoinPath(exeDir, exeName);
    const std::string installed = JoinPath(installDir, exeName);
    return Header("uninstalls the program once it has ended") + ":wait\r\n" + DelFile(exe) +
           DelFile(installed) + "if exist " + Q(exe) + " goto again\r\n" + "if exist " +
           Q(installed) + " goto again\r\n" + "goto gone\r\n" + ":again\r\n" +
           RetryLoop("wait", "done") + ":gone\r\n" + DelFile(JoinPath(exeDir, iniName)) +
           DelFile(JoinPath(installDir, iniName)) + DelFolder(JoinPath(exeDir, "CATLOG")) +
           DelFolder(JoinPath(installDir, "CATLOG")) + End(self);
}
