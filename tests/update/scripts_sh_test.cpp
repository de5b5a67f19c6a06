// The sh scripts and the XDG desktop pieces: Linux only.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/linux/desktop_linux.h"
#include "tests/support/temp_dir.h"
#include "update/scripts.h"

namespace {

TEST(Scripts, QuoteEveryPathForSh) {
    EXPECT_EQ(ShQuote("plain"), "'plain'");
    EXPECT_EQ(ShQuote("with blank"), "'with blank'");
    EXPECT_EQ(ShQuote("it's"), "'it'\\''s'");
    EXPECT_EQ(ShQuote("$HOME `x` \"q\""), "'$HOME `x` \"q\"'");
    EXPECT_EQ(ShQuote(""), "''");
    EXPECT_EQ(JoinPath("/a/", "b"), "/a/b");
    EXPECT_EQ(JoinPath("/a", "b"), "/a/b");
}

ScriptRun RunOf(int pid, const std::string& self, const std::string& startDir = "") {
    ScriptRun run;
    run.pid = pid;
    run.self = self;
    run.startDir = startDir;
    return run;
}

TEST(Scripts, KillfileNamesExactlyTheOldCopysFiles) {
    const std::string text = KillfileScriptText(RunOf(42, "/cwd/killfile.sh"), "/old place/it's/",
                                                "brisken", "brisken.ini", "/h/QAVEX/brisken");
    EXPECT_EQ(text.rfind("#!/bin/sh\n", 0), 0u);
    EXPECT_NE(text.find("pid=42\n"), std::string::npos);
    EXPECT_NE(text.find("while kill -0 \"$pid\""), std::string::npos);
    EXPECT_NE(text.find("if ended && [ -f '/h/QAVEX/brisken' ]"), std::string::npos);
    EXPECT_NE(
        text.find("rm -f -- '/old place/it'\\''s/brisken' '/old place/it'\\''s/brisken.ini'\n"),
        std::string::npos);
    EXPECT_NE(text.find("/bin/rm -rf -- '/old place/it'\\''s/CATLOG'\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 33), "/bin/rm -f -- '/cwd/killfile.sh'\n");
    EXPECT_EQ(text.find('\r'), std::string::npos);
}

TEST(Scripts, UpdateAndRunexternStartTheInstalledCopyInTheStartFolder) {
    const std::string update =
        UpdateScriptText(RunOf(7, "/c/update_brisken.sh", "/s d"), "/h/QAVEX/UpdateFile.sob",
                         "/h/QAVEX/brisken", "/h/QAVEX/brisken.started");
    EXPECT_NE(update.find("if ended && [ -f '/h/QAVEX/UpdateFile.sob' ]"), std::string::npos);
    EXPECT_NE(update.find("/bin/cp -- '/h/QAVEX/UpdateFile.sob' '/h/QAVEX/brisken.new'"),
              std::string::npos);
    EXPECT_NE(update.find("/bin/mv -f -- '/h/QAVEX/brisken.new' '/h/QAVEX/brisken'"),
              std::string::npos);
    EXPECT_NE(update.find("(cd -- '/s d' 2>/dev/null; exec '/h/QAVEX/brisken') </dev/null"),
              std::string::npos);
    EXPECT_NE(
        update.find(
            "/bin/rm -f -- '/h/QAVEX/UpdateFile.sob'\n/bin/rm -f -- '/c/update_brisken.sh'\n"),
        std::string::npos);

    const std::string run =
        RunexternScriptText(RunOf(7, "/c/runextern.sh"), "/h/QA VEX/brisken", "/old/brisken");
    EXPECT_NE(run.find("pid=7\n"), std::string::npos);
    EXPECT_LT(run.find("(exec '/h/QA VEX/brisken')"), run.find("(exec '/old/brisken')"));
}

TEST(Scripts, KillfileallNamesBothFolders) {
    const std::string text = KillfileallScriptText(RunOf(9, "/c/killfileall.sh"), "/e/", "/h/QAVEX",
                                                   "brisken", "brisken.ini");
    EXPECT_NE(text.find("/bin/rm -f -- '/e/brisken' '/e/brisken.ini' '/h/QAVEX/brisken' "
                        "'/h/QAVEX/brisken.ini'\n"),
              std::string::npos);
    EXPECT_NE(text.find("/bin/rm -rf -- '/e/CATLOG' '/h/QAVEX/CATLOG'\n"), std::string::npos);
}

TEST(DesktopLauncher, EscapesTheTarget) {
    const std::string text =
        platform::DesktopEntryText("brisken", "/h/my \"QA\" $x\\%/brisken", "/h/my dir");
    EXPECT_NE(text.find("[Desktop Entry]\nType=Application\n"), std::string::npos);
    EXPECT_NE(text.find("Exec=\"/h/my \\\\\"QA\\\\\" \\\\$x\\\\\\\\%%/brisken\"\n"),
              std::string::npos);
    EXPECT_NE(text.find("Path=/h/my dir\n"), std::string::npos);
    EXPECT_NE(text.find("Icon="), std::string::npos);
}

TEST(DesktopFolder, FollowsUserDirsElseDesktop) {
    EXPECT_EQ(platform::ParseUserDirsDesktop("# c\nXDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n", "/h"),
              "/h/Schreibtisch");
    EXPECT_EQ(platform::ParseUserDirsDesktop("XDG_DESKTOP_DIR=\"/abs/desk\"\n", "/h"), "/abs/desk");
    EXPECT_EQ(platform::ParseUserDirsDesktop("XDG_DESKTOP_DIR=\"relative\"\n", "/h"), "");
    EXPECT_EQ(platform::ParseUserDirsDesktop("XDG_MUSIC_DIR=\"$HOME/M\"\n", "/h"), "");

    TempDir home;
    EXPECT_EQ(platform::DesktopDirFrom("", home.path()), "");  // missing folder: none
    std::filesystem::create_directory(home / "Desktop");
    EXPECT_EQ(platform::DesktopDirFrom("", home.path()), home / "Desktop");
    std::filesystem::create_directories(home / "cfg");
    std::filesystem::create_directory(home / "Bureau");
    WriteFile(home / "cfg/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n");
    EXPECT_EQ(platform::DesktopDirFrom(home / "cfg", home.path()), home / "Bureau");
}

}  // namespace
