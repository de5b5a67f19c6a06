#include "update/scripts.h"

// The self-management scripts for POSIX sh.

#include <initializer_list>

namespace {

std::string Header(const std::string& what) {
    return "#!/bin/sh\n# Written by the program: " + what + "\n";
}

// Waits until the program's process has ended; gives up (removing only the
// script itself) when it has not ended in time.
std::string WaitForProgram(int pid, const std::string& self) {
    return "pid=" + std::to_string(pid) +
           "\n"
           "tries=0\n"
           "while kill -0 \"$pid\" 2>/dev/null; do\n"
           "    tries=$((tries + 1))\n"
           "    if [ \"$tries\" -ge " +
           std::to_string(kScriptWaitTries) +
           " ]; then\n"
           "        rm -f -- " +
           ShQuote(self) +
           "\n"
           "        exit 1\n"
           "    fi\n"
           "    sleep 0.2\n"
           "done\n";
}

std::string Words(std::initializer_list<std::string> paths) {
    std::string out;
    for (const auto& p : paths) out += " " + ShQuote(p);
    return out;
}

std::string StartDetached(const std::string& exe) {
    return ShQuote(exe) + " </dev/null >/dev/null 2>&1 &\n";
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

std::string UpdateScriptText(int pid, const std::string& downloadPath,
                             const std::string& installedExe, const std::string& self) {
    const std::string staged = installedExe + ".new";
    return Header("replaces the installed program with the download once it has ended") +
           WaitForProgram(pid, self) +
           "if [ -f " + ShQuote(downloadPath) + " ]; then\n"
           "    if cp --" + Words({downloadPath, staged}) + " && chmod 755 --" + Words({staged}) +
           " && mv -f --" + Words({staged, installedExe}) + "; then\n"
           "        :\n"
           "    else\n"
           "        rm -f --" + Words({staged}) + "\n"
           "    fi\n"
           "    if [ -x " + ShQuote(installedExe) + " ]; then\n"
           "        " + StartDetached(installedExe) +
           "    fi\n"
           "fi\n"
           "rm -f --" + Words({downloadPath, self}) + "\n";
}

std::string KillfileScriptText(int pid, const std::string& oldDir, const std::string& exeName,
                               const std::string& iniName, const std::string& self) {
    return Header("removes the old copy once it has ended") + WaitForProgram(pid, self) +
           "rm -f --" + Words({JoinPath(oldDir, exeName), JoinPath(oldDir, iniName)}) + "\n" +
           "rm -rf --" + Words({JoinPath(oldDir, "CATLOG")}) + "\n" +
           "rm -f --" + Words({self}) + "\n";
}

std::string RunexternScriptText(int pid, const std::string& installedExe, const std::string&,
                                const std::string& self) {
    return Header("starts the installed copy once the old one has ended") +
           WaitForProgram(pid, self) +
           "if [ -x " + ShQuote(installedExe) + " ]; then\n"
           "    " + StartDetached(installedExe) +
           "fi\n"
           "rm -f --" + Words({self}) + "\n";
}

std::string KillfileallScriptText(int pid, const std::string& exeDir, const std::string& installDir,
                                  const std::string& exeName, const std::string& iniName,
                                  const std::string& self) {
    return Header("uninstalls the program once it has ended") + WaitForProgram(pid, self) +
           "rm -f --" +
           Words({JoinPath(exeDir, exeName), JoinPath(exeDir, iniName),
                  JoinPath(installDir, exeName), JoinPath(installDir, iniName)}) +
           "\n" + "rm -rf --" + Words({JoinPath(exeDir, "CATLOG"), JoinPath(installDir, "CATLOG")}) +
           "\n" + "rm -f --" + Words({self}) + "\n";
}
