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

// The system's own commands, by full path: cmd looks in the current folder
// before PATH, so a bare name could run anyone's "ping.exe" or "find.bat".
const char kPing[] = "\"%SystemRoot%\\System32\\PING.EXE\"";
const char kWaitfor[] = "\"%SystemRoot%\\System32\\waitfor.exe\"";
const char kTasklist[] = "\"%SystemRoot%\\System32\\tasklist.exe\"";
const char kTaskkill[] = "\"%SystemRoot%\\System32\\taskkill.exe\"";
const char kFind[] = "\"%SystemRoot%\\System32\\find.exe\"";

// The script's first command is its mark for the program; every retry loop
// waits a second with ":pause" (after the script's end, where the flow never
// falls into it).
std::string Header(const ScriptRun& run, const std::string& what) {
    std::string text = "@echo off\r\nrem Written by the program: " + what + "\r\n";
    if (!run.runMark.empty()) text = "@echo run>" + Q(run.runMark) + "\r\n" + text;
    return text;
}

// A second's pause: ping to the loopback address; where ping is blocked or
// missing, waitfor's time-out; where that fails too, the clock is watched
// until its second has turned (bounded by that second), so a loop's tries
// still take their time.
std::string PauseSubroutine() {
    return std::string(":pause\r\n") + "set t_pause=%TIME:~0,8%\r\n" + kPing +
           " -n 2 127.0.0.1 >nul 2>&1\r\n"
           "if not errorlevel 1 goto :eof\r\n" +
           kWaitfor +
           " /t 1 BriskenPause >nul 2>&1\r\n"
           ":pausing\r\n"
           "if \"%TIME:~0,8%\"==\"%t_pause%\" goto pausing\r\n"
           "goto :eof\r\n";
}

// The start of a retry loop at label, with a counter of its own.
std::string LoopStart(const std::string& label) {
    return "set n_" + label + "=0\r\n:" + label + "\r\n";
}

// A retry of the lines since LoopStart(label): back to label after a second,
// or on to giveUp once the loop's tries (seconds) are spent.
std::string RetryLoop(int seconds, const std::string& label, const std::string& giveUp) {
    const int tries = seconds > 0 ? seconds : 1;
    return "set /a n_" + label + "+=1\r\nif %n_" + label + "% geq " + std::to_string(tries) +
           " goto " + giveUp + "\r\ncall :pause\r\ngoto " + label + "\r\n";
}
std::string RetryLoop(const ScriptRun& run, const std::string& label, const std::string& giveUp) {
    return RetryLoop(run.waitSeconds, label, giveUp);
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
    return LoopStart("running") + kTasklist + " /nh /fi \"PID eq " + pid + "\" 2>nul | " + kFind +
           " \" " + pid + " \" >nul\r\n" + "if errorlevel 1 goto " + label + "\r\n" +
           RetryLoop(run, "running", label) + ":" + label + "\r\n";
}

// A batch file ends by deleting itself; cmd then finds no next line and stops.
std::string End(const ScriptRun& run) {
    return ":done\r\n" + (run.runMark.empty() ? "" : DelFile(run.runMark)) + DelFile(run.self) +
           PauseSubroutine();
}

// The file name at the end of a path.
std::string FileName(const std::string& path) {
    const size_t sep = path.find_last_of("\\/");
    return sep == std::string::npos ? path : path.substr(sep + 1);
}

}  // namespace

std::string ScriptFileName(const std::string& base) { return base + ".bat"; }

std::string UpdateScriptText(const ScriptRun& run, const std::string& downloadPath,
                             const std::string& installedExe, const std::string& startedMark) {
    // The download is staged beside the installed program and the program
    // copied aside first, so a copy that fails never costs the working
    // program and there is never a moment without a program in place; the
    // move over it succeeds once the program has ended and released its file.
    // Whatever became of the copies and the move, a program is started.
    const std::string staged = installedExe + ".new";
    const std::string old = installedExe + ".old";
    // Only this user's copies of the program's name are ended: another
    // account's gateway on the same PC runs on. A taskkill that refuses the
    // filter as a bad option (errorlevel 1: a reduced system's) ends the
    // copies it may end by name.
    const std::string image = Q(FileName(installedExe));
    const std::string kill = std::string(kTaskkill) + " /f /im " + image +
                             " /fi \"USERNAME eq %USERDOMAIN%\\%USERNAME%\" >nul 2>&1\r\n" +
                             "if errorlevel 1 if not errorlevel 2 " + kTaskkill + " /f /im " +
                             image + " >nul 2>&1\r\n";
    return Header(run, "replaces the installed program with the download once it has ended") +
           WaitForEnd(run, "ended") + "if not exist " + Q(downloadPath) + " goto restart\r\n" +
           DelFile(staged) + DelFile(old) + "copy /y /b " + Q(downloadPath) + " " + Q(staged) +
           " >nul 2>&1\r\n" + "if errorlevel 1 goto restart\r\n" + "if not exist " + Q(staged) +
           " goto restart\r\n" + "copy /y /b " + Q(installedExe) + " " + Q(old) + " >nul 2>&1\r\n" +
           "if errorlevel 1 goto restart\r\n" + "if not exist " + Q(old) + " goto restart\r\n" +
           LoopStart("wait") + "move /y " + Q(staged) + " " + Q(installedExe) + " >nul 2>&1\r\n" +
           "if errorlevel 1 goto again\r\n" + "if not exist " + Q(staged) + " goto moved\r\n" +
           ":again\r\n" + RetryLoop(run, "wait", "restart") +
           // The new program confirms its clean start by its mark; one that
           // ends, crashes or hangs without it is ended and the old one put
           // back, retried while the system still holds the new one's file.
           ":moved\r\n" + DelFile(startedMark) + Start(run, installedExe, "n") +
           LoopStart("confirm") + "if exist " + Q(startedMark) + " goto confirmed\r\n" +
           RetryLoop(run.confirmSeconds, "confirm", "rollback") + ":confirmed\r\n" + DelFile(old) +
           "goto cleanup\r\n" + ":rollback\r\n" + LoopStart("back") + kill + "move /y " + Q(old) +
           " " + Q(installedExe) + " >nul 2>&1\r\n" + "if errorlevel 1 goto notback\r\n" +
           "if not exist " + Q(old) + " goto start\r\n" + ":notback\r\n" +
           RetryLoop(run, "back", "start") +
           // Not moved: the program that was there is started as it is.
           ":restart\r\n" + DelFile(staged) + DelFile(old) + ":start\r\n" + "if not exist " +
           Q(installedExe) + " goto cleanup\r\n" + Start(run, installedExe, "s") + ":cleanup\r\n" +
           DelFile(downloadPath) + End(run);
}

std::string KillfileScriptText(const ScriptRun& run, const std::string& oldDir,
                               const std::string& exeName, const std::string& iniName,
                               const std::string& installedExe) {
    // The old copy goes only while the installed one is there to take its place.
    const std::string exe = JoinPath(oldDir, exeName);
    return Header(run, "removes the old copy once it has ended") + "if not exist " +
           Q(installedExe) + " goto done\r\n" + LoopStart("wait") + DelFile(exe) + "if not exist " +
           Q(exe) + " goto gone\r\n" + RetryLoop(run, "wait", "done") + ":gone\r\n" +
           DelFile(JoinPath(oldDir, iniName)) + DelFolder(JoinPath(oldDir, "CATLOG")) + End(run);
}

std::string RunexternScriptText(const ScriptRun& run, const std::string& installedExe,
                                const std::string& oldExe) {
    // The old copy's file goes (killfile) once it has ended; a copy started
    // before that would see it running and end at once. Once the wait has run
    // out, whichever copy exists is started.
    return Header(run, "starts the installed copy once the old one has ended") + LoopStart("wait") +
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
    return Header(run, "uninstalls the program once it has ended") + LoopStart("wait") +
           DelFile(exe) + DelFile(installed) + "if exist " + Q(exe) + " goto again\r\n" +
           "if exist " + Q(installed) + " goto again\r\n" + "goto gone\r\n" + ":again\r\n" +
           RetryLoop(run, "wait", "done") + ":gone\r\n" + DelFile(JoinPath(exeDir, iniName)) +
           DelFile(JoinPath(installDir, iniName)) + DelFolder(JoinPath(exeDir, "CATLOG")) +
           DelFolder(JoinPath(installDir, "CATLOG")) + End(run);
}
