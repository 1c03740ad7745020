#include "platform/paths/KPaths.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

TEST(KPaths, SandboxMovesSystemPathsAndTheHome)
{
    ScopedEnv root("KAVANTI_ROOT", "/tmp/sandbox/");
    ScopedEnv xdg("XDG_CONFIG_HOME", "/real/user/config"); // names the real user's folder: ignored
    EXPECT_EQ(KPaths::StorePath(), "/tmp/sandbox/var/lib/kavanti/preferences.plist");
    EXPECT_EQ(KPaths::PeerFilePath(), "/tmp/sandbox/etc/ppp/peers/kavanti");
    EXPECT_EQ(KPaths::DevicePath("ttyUSB0"), "/tmp/sandbox/dev/ttyUSB0");
    EXPECT_EQ(KPaths::SysfsRoot(), "/tmp/sandbox/sys");
    EXPECT_EQ(KPaths::PreferencesFile(), "/tmp/sandbox/home/.config/kavanti/Kavanti.plist");
    const auto scripts = KPaths::ModemScriptFolders();
    ASSERT_EQ(scripts.size(), 4u);
    EXPECT_EQ(scripts[0], "/tmp/sandbox/home/.local/share/kavanti/modem-scripts");
    EXPECT_EQ(scripts[1], "/tmp/sandbox/etc/kavanti/modem-scripts");
    EXPECT_EQ(scripts[2], "/tmp/sandbox/usr/local/share/kavanti/modem-scripts");
}

TEST(KPaths, WithoutASandboxXdgFoldersAreHonoured)
{
    unsetenv("KAVANTI_ROOT");
    ScopedEnv home("HOME", "/home/someone");
    ScopedEnv xdg("XDG_CONFIG_HOME", "/elsewhere/config");
    ScopedEnv data("XDG_DATA_HOME", "relative/is/ignored");
    EXPECT_EQ(KPaths::StorePath(), "/var/lib/kavanti/preferences.plist");
    EXPECT_EQ(KPaths::PreferencesFile(), "/elsewhere/config/kavanti/Kavanti.plist");
    EXPECT_EQ(KPaths::ModemScriptFolders()[0], "/home/someone/.local/share/kavanti/modem-scripts");
}

TEST(KPaths, ResourcesFolderFromTheEnvironment)
{
    ScopedEnv res("KAVANTI_RESOURCES", "/opt/res/");
    EXPECT_EQ(KPaths::ResourcesFolder(), "/opt/res");
    EXPECT_EQ(KPaths::ModemScriptFolders()[3], "/opt/res/modem-scripts");
}

TEST(KPaths, AtomicWriteReplacesWholeAndSetsTheMode)
{
    TempDir tmp;
    const std::string file = tmp / "a/b/file";
    ASSERT_EQ(KPaths::MakeFolders(tmp / "a/b"), 0);
    WriteFileText(file, "old");
    ASSERT_EQ(KPaths::WriteFileAtomically(file, "new contents", 0600), 0);
    EXPECT_EQ(ReadFileText(file), "new contents");
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_NE(KPaths::WriteFileAtomically(tmp / "missing/dir/file", "x", 0600), 0);
    EXPECT_EQ(KPaths::MakeFolders(file), ENOTDIR);
}
