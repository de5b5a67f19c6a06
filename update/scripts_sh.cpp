#include <initializer_list>

#include "update/scripts.h"

// The self-management scripts for POSIX sh.

namespace {

// Every tool by its full path (a PATH of the user's never picks one), the
// script's first command its mark for the program, and the pause every retry
// loop waits with.
std::string Header(const ScriptRun& run, const std::string& what) {
    std::string text = "#!/bin/sh\n# Written by the program: " + what + "\n";
    if (!run.runMark.empty()) text += ": >" + ShQuote(run.runMark) + "\n";
    return text +
           "pause() {\n"
           "    /bin/sleep 0.2 2>/dev/null && return 0\n"
           "    # Without /bin/sleep a bounded count stands in: the tries still take time.\n"
           "    n_pause=0\n"
           "    while [ \"$n_pause\" -lt 20000 ]; do n_pause=$((n_pause + 1)); done\n"
           "}\n";
}

int Tries(int seconds) { return seconds > 0 ? seconds * 5 : 1; }
int Tries(const ScriptRun& run) { return Tries(run.waitSeconds); }

// A loop's own counter: a give-up test for the counter of that name.
std::string GiveUp(const std::string& counter, int tries, const std::string& what) {
    return "        " + counter + "=$((" + counter + " + 1))\n        if [ \"$" + counter +
           "\" -ge " + std::to_string(tries) + " ]; then " + what + "; fi\n        pause\n";
}

std::string Words(std::initializer_list<std::string> paths) {
    std::string out;
    for (const auto& p : paths) out += " " + ShQuote(p);
    return out;
}

// ended: waits (tries of 0.2 s, bounded) until the program's process has
// ended; false when it still runs once the wait has run out.
std::string EndedFunction(const ScriptRun& run) {
    return "pid=" + std::to_string(run.pid) +
           "\n"
           "ended() {\n"
           "    n_end=0\n"
           "    while kill -0 \"$pid\" 2>/dev/null; do\n" +
           GiveUp("n_end", Tries(run), "return 1") +
           "    done\n"
           "    return 0\n"
           "}\n";
}

// Starts exe detached, in the run's start folder where that still exists;
// $! is then the program's own process (the subshell becomes it).
std::string StartDetached(const ScriptRun& run, const std::string& exe) {
    const std::string cd =
        run.startDir.empty() ? "" : "cd -- " + ShQuote(run.startDir) + " 2>/dev/null; ";
    return "(" + cd + "exec " + ShQuote(exe) + ") </dev/null >/dev/null 2>&1 &\n";
}

std::string RemoveSelf(const ScriptRun& run) {
    return "/bin/rm -f --" + Words({run.self}) +
           (run.runMark.empty() ? std::string() : Words({run.runMark})) + "\n";
}

}  // namespace

std::string ShQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += "'";
    return out;
}

std::string ScriptFileName(const std::string& base) { return base + ".sh"; }

std::string UpdateScriptText(const ScriptRun& run, const std::string& downloadPath,
                             const std::string& installedExe, const std::string& startedMark) {
    const std::string staged = installedExe + ".new";
    const std::string old = installedExe + ".old";
    const std::string exe = ShQuote(installedExe);
    // Everything waits for the program's end: a program started beside it
    // would leave at once as the second copy, and Linux would let its file be
    // replaced while it runs. The old program is copied aside before the new
    // one is moved over it, so there is never a moment without a program in
    // place; the move is retried (a file that is held or mounted over refuses
    // it) until the wait runs out.
    return Header(run, "replaces the installed program with the download once it has ended") +
           EndedFunction(run) + "moved=0\n" + "if ended && [ -f " + ShQuote(downloadPath) +
           " ] && /bin/rm -f --" + Words({staged, old}) + " && /bin/cp --" +
           Words({downloadPath, staged}) + " && /bin/chmod 755 --" + Words({staged}) +
           " && /bin/cp -p --" + Words({installedExe, old}) +
           "; then\n"
           "    n_move=0\n"
           "    until /bin/mv -f --" +
           Words({staged, installedExe}) + " 2>/dev/null; do\n" +
           GiveUp("n_move", Tries(run), "break") +
           "    done\n"
           "    [ -f " +
           ShQuote(staged) +
           " ] || moved=1\n"
           "fi\n"
           "/bin/rm -f --" +
           Words({staged}) +
           "\n"
           "if [ \"$moved\" = 1 ]; then\n"
           "    # The new program confirms its clean start by its mark; one that\n"
           "    # ends, crashes or hangs without it is ended and the old one put back.\n"
           "    /bin/rm -f --" +
           Words({startedMark}) + "\n    " + StartDetached(run, installedExe) +
           "    started=$!\n"
           "    n_ok=0\n"
           "    while [ ! -e " +
           ShQuote(startedMark) + " ]; do\n" + GiveUp("n_ok", Tries(run.confirmSeconds), "break") +
           "    done\n"
           "    if [ -e " +
           ShQuote(startedMark) +
           " ]; then\n"
           "        /bin/rm -f --" +
           Words({old}) +
           "\n"
           "    else\n"
           "        kill -9 \"$started\" 2>/dev/null\n"
           "        n_back=0\n"
           "        until /bin/mv -f --" +
           Words({old, installedExe}) + " 2>/dev/null; do\n" +
           GiveUp("n_back", Tries(run), "break") +
           "        done\n"
           "        if [ -x " +
           exe + " ]; then\n            " + StartDetached(run, installedExe) +
           "        fi\n"
           "    fi\n"
           "else\n"
           "    # The program that was there, when the new one could not be put in place.\n"
           "    /bin/rm -f --" +
           Words({old}) + "\n    if [ -x " + exe + " ]; then\n        " +
           StartDetached(run, installedExe) +
           "    fi\n"
           "fi\n"
           "/bin/rm -f --" +
           Words({downloadPath}) + "\n" + RemoveSelf(run);
}

std::string KillfileScriptText(const ScriptRun& run, const std::string& oldDir,
                               const std::string& exeName, const std::string& iniName,
                               const std::string& installedExe) {
    // The old copy goes only once it has ended and while the installed one is
    // there to take its place.
    return Header(run, "removes the old copy once it has ended") + EndedFunction(run) +
           "if ended && [ -f " + ShQuote(installedExe) + " ]; then\n" + "    /bin/rm -f --" +
           Words({JoinPath(oldDir, exeName), JoinPath(oldDir, iniName)}) + "\n" +
           "    /bin/rm -rf --" + Words({JoinPath(oldDir, "CATLOG")}) + "\nfi\n" + RemoveSelf(run);
}

std::string RunexternScriptText(const ScriptRun& run, const std::string& installedExe,
                                const std::string& oldExe) {
    // Once the wait has run out the program still running is left alone: a
    // copy started now ends at once as the second one.
    return Header(run, "starts the installed copy once the old one has ended") +
           EndedFunction(run) +
           "ended\n"
           "if [ -x " +
           ShQuote(installedExe) +
           " ]; then\n"
           "    " +
           StartDetached(run, installedExe) + "elif [ -x " + ShQuote(oldExe) +
           " ]; then\n"
           "    " +
           StartDetached(run, oldExe) + "fi\n" + RemoveSelf(run);
}

std::string KillfileallScriptText(const ScriptRun& run, const std::string& exeDir,
                                  const std::string& installDir, const std::string& exeName,
                                  const std::string& iniName) {
    return Header(run, "uninstalls the program once it has ended") + EndedFunction(run) +
           "if ended; then\n"
           "    /bin/rm -f --" +
           Words({JoinPath(exeDir, exeName), JoinPath(exeDir, iniName),
                  JoinPath(installDir, exeName), JoinPath(installDir, iniName)}) +
           "\n    /bin/rm -rf --" +
           Words({JoinPath(exeDir, "CATLOG"), JoinPath(installDir, "CATLOG")}) + "\nfi\n" +
           RemoveSelf(run);
}
