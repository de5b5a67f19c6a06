#include <initializer_list>

#include "update/scripts.h"

// The self-management scripts for POSIX sh.

namespace {

std::string Header(const std::string& what) {
    return "#!/bin/sh\n# Written by the program: " + what + "\n";
}

int Tries(const ScriptRun& run) { return run.waitSeconds > 0 ? run.waitSeconds * 5 : 1; }

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
           "    tries=0\n"
           "    while kill -0 \"$pid\" 2>/dev/null; do\n"
           "        tries=$((tries + 1))\n"
           "        if [ \"$tries\" -ge " +
           std::to_string(Tries(run)) +
           " ]; then return 1; fi\n"
           "        sleep 0.2\n"
           "    done\n"
           "    return 0\n"
           "}\n";
}

// Starts exe detached, in the run's start folder where that still exists.
std::string StartDetached(const ScriptRun& run, const std::string& exe) {
    const std::string cd =
        run.startDir.empty() ? "" : "cd -- " + ShQuote(run.startDir) + " 2>/dev/null; ";
    return "(" + cd + "exec " + ShQuote(exe) + ") </dev/null >/dev/null 2>&1 &\n";
}

std::string RemoveSelf(const ScriptRun& run) { return "rm -f --" + Words({run.self}) + "\n"; }

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
                             const std::string& installedExe) {
    const std::string staged = installedExe + ".new";
    // Everything waits for the program's end: a program started beside it
    // would leave at once as the second copy, and Linux would let its file be
    // replaced while it runs. The move is still retried (a file that is held
    // or mounted over refuses it) until the wait runs out.
    return Header("replaces the installed program with the download once it has ended") +
           EndedFunction(run) + "if ended && [ -f " + ShQuote(downloadPath) + " ] && rm -f --" +
           Words({staged}) + " && cp --" + Words({downloadPath, staged}) + " && chmod 755 --" +
           Words({staged}) +
           "; then\n"
           "    tries=0\n"
           "    until mv -f --" +
           Words({staged, installedExe}) +
           " 2>/dev/null; do\n"
           "        tries=$((tries + 1))\n"
           "        if [ \"$tries\" -ge " +
           std::to_string(Tries(run)) +
           " ]; then break; fi\n"
           "        sleep 0.2\n"
           "    done\n"
           "fi\n"
           "rm -f --" +
           Words({staged}) +
           "\n"
           "# The new program, or the one that was there when it could not be put in place.\n"
           "if [ -x " +
           ShQuote(installedExe) +
           " ]; then\n"
           "    " +
           StartDetached(run, installedExe) +
           "fi\n"
           "rm -f --" +
           Words({downloadPath, run.self}) + "\n";
}

std::string KillfileScriptText(const ScriptRun& run, const std::string& oldDir,
                               const std::string& exeName, const std::string& iniName,
                               const std::string& installedExe) {
    // The old copy goes only once it has ended and while the installed one is
    // there to take its place.
    return Header("removes the old copy once it has ended") + EndedFunction(run) +
           "if ended && [ -f " + ShQuote(installedExe) + " ]; then\n" + "    rm -f --" +
           Words({JoinPath(oldDir, exeName), JoinPath(oldDir, iniName)}) + "\n" + "    rm -rf --" +
           Words({JoinPath(oldDir, "CATLOG")}) + "\nfi\n" + RemoveSelf(run);
}

std::string RunexternScriptText(const ScriptRun& run, const std::string& installedExe,
                                const std::string& oldExe) {
    // Once the wait has run out the program still running is left alone: a
    // copy started now ends at once as the second one.
    return Header("starts the installed copy once the old one has ended") + EndedFunction(run) +
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
    return Header("uninstalls the program once it has ended") + EndedFunction(run) +
           "if ended; then\n"
           "    rm -f --" +
           Words({JoinPath(exeDir, exeName), JoinPath(exeDir, iniName),
                  JoinPath(installDir, exeName), JoinPath(installDir, iniName)}) +
           "\n    rm -rf --" + Words({JoinPath(exeDir, "CATLOG"), JoinPath(installDir, "CATLOG")}) +
           "\nfi\n" + RemoveSelf(run);
}
