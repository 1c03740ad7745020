#include "platform/paths/KPaths.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <vector>

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

// Libraries such as GIO read HOME and the XDG variables themselves: in a sandbox they must name
// the same folders as KPaths, and outside one they must stay as the user set them.
TEST(KPaths, EnteringTheSandboxEnvironmentPointsHomeAndXdgAtTheSandbox)
{
    const char* vars[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"};
    const char* real[] = {"/home/someone", "/home/someone/cfg", "/home/someone/data", "/home/someone/cache",
                          "/home/someone/state"};
    struct Case {
        const char* root;
        const char* expected[5];
    } cases[] = {
        {"/tmp/sandbox/",
         {"/tmp/sandbox/home", "/tmp/sandbox/home/.config", "/tmp/sandbox/home/.local/share",
          "/tmp/sandbox/home/.cache", "/tmp/sandbox/home/.local/state"}},
        {nullptr, {real[0], real[1], real[2], real[3], real[4]}},
        {"/", {real[0], real[1], real[2], real[3], real[4]}}, // "/" is no sandbox
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.root ? c.root : "(no sandbox)");
        std::vector<std::unique_ptr<ScopedEnv>> env;
        for (int i = 0; i < 5; ++i) env.push_back(std::make_unique<ScopedEnv>(vars[i], real[i]));
        if (c.root) env.push_back(std::make_unique<ScopedEnv>("KAVANTI_ROOT", c.root));
        else unsetenv("KAVANTI_ROOT");
        const std::string config = KPaths::ConfigHome(), data = KPaths::DataHome();
        KPaths::EnterSandboxEnvironment();
        for (int i = 0; i < 5; ++i) EXPECT_STREQ(std::getenv(vars[i]), c.expected[i]) << vars[i];
        EXPECT_EQ(KPaths::ConfigHome(), config) << "KPaths and the libraries agree";
        EXPECT_EQ(KPaths::DataHome(), data);
        EXPECT_EQ(KPaths::ConfigHome(), std::getenv("XDG_CONFIG_HOME"));
        EXPECT_EQ(KPaths::DataHome(), std::getenv("XDG_DATA_HOME"));
    }
}
