// The accelerator proxy on the desktop, with the keyfile GSettings backend in a sandbox: link up
// sets mode "manual" with the accelerator; link down, and the next start after a kill, put the
// earlier settings back.
#include "support/SimProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {


class DesktopProxyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        probe = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "launch_proxy_probe";
        // Earlier settings of the user's desktop.
        Set("org.gnome.system.proxy", "mode", "auto");
        Set("org.gnome.system.proxy.http", "host", "old.example");
        Set("org.gnome.system.proxy.http", "port", "3128");
    }
    void Set(const std::string& schema, const std::string& key, const std::string& value)
    {
        ASSERT_EQ(RunProgram({"/usr/bin/gsettings", "set", schema, key, value}).status, 0);
    }
    std::string Get(const std::string& schema, const std::string& key)
    {
        auto r = RunProgram({"/usr/bin/gsettings", "get", schema, key});
        while (!r.out.empty() && r.out.back() == '\n') r.out.pop_back();
        return r.out;
    }
    std::string Desktop()
    {
        return Get("org.gnome.system.proxy", "mode") + " " + Get("org.gnome.system.proxy.http", "host") + " "
            + Get("org.gnome.system.proxy.http", "port");
    }
    RunResult Probe(const std::vector<std::string>& args)
    {
        std::vector<std::string> argv{probe};
        argv.insert(argv.end(), args.begin(), args.end());
        return RunProgram(argv);
    }
    bool Saved() const { return std::filesystem::exists(dir / "home/.local/state/kavanti/desktop-proxy.ini"); }

    TempDir dir;
    ScopedEnv root{"KAVANTI_ROOT", dir.path()};
    ScopedEnv home{"HOME", dir / "home"};
    ScopedEnv config{"XDG_CONFIG_HOME", dir / "home/.config"};
    ScopedEnv state{"XDG_STATE_HOME", dir / "home/.local/state"};
    ScopedEnv backend{"GSETTINGS_BACKEND", "keyfile"};
    std::string probe;
};

TEST_F(DesktopProxyTest, LinkUpSetsTheAcceleratorAndLinkDownPutsTheEarlierSettingsBack)
{
    ASSERT_EQ(Desktop(), "'auto' 'old.example' 3128");
    auto r = Probe({"apply", "accel.example.jp", "32080"});
    EXPECT_EQ(r.out, "0\nhttp_proxy=http://accel.example.jp:32080/\nHTTP_PROXY=http://accel.example.jp:32080/\n");
    EXPECT_EQ(Desktop(), "'manual' 'accel.example.jp' 32080");
    EXPECT_TRUE(Saved());

    // Another accelerator while connected: the first saved settings are still the ones restored.
    EXPECT_EQ(Probe({"apply", "accel2.example.jp", "32080"}).out.substr(0, 2), "0\n");
    EXPECT_EQ(Desktop(), "'manual' 'accel2.example.jp' 32080");

    EXPECT_EQ(Probe({"restore"}).out, "0\n");
    EXPECT_EQ(Desktop(), "'auto' 'old.example' 3128");
    EXPECT_FALSE(Saved());
    EXPECT_EQ(Probe({"restore"}).out, "0\n") << "nothing saved: nothing to do";
    EXPECT_EQ(Desktop(), "'auto' 'old.example' 3128");
}

TEST_F(DesktopProxyTest, TheNextStartAfterAKillRestores)
{
    auto r = Probe({"apply-then-die", "accel.example.jp", "32080"});
    EXPECT_EQ(r.status, -1) << "killed";
    EXPECT_EQ(Desktop(), "'manual' 'accel.example.jp' 32080");
    EXPECT_EQ(Probe({"recover"}).out, "0\n");
    EXPECT_EQ(Desktop(), "'auto' 'old.example' 3128");
    EXPECT_FALSE(Saved());
}

TEST_F(DesktopProxyTest, SettingsTheUserChangedMeanwhileAreKept)
{
    Probe({"apply", "accel.example.jp", "32080"});
    Set("org.gnome.system.proxy", "mode", "none");
    EXPECT_EQ(Probe({"restore"}).out, "0\n");
    EXPECT_EQ(Get("org.gnome.system.proxy", "mode"), "'none'");
    EXPECT_FALSE(Saved());
}

TEST_F(DesktopProxyTest, BadProxyOrEmptyHostChangeNothing)
{
    struct Case {
        const char* host;
        const char* port;
        const char* out;
    };
    const Case cases[] = {
        {"accel.example.jp", "0", "-50\n"},
        {"accel.example.jp", "70000", "-50\n"},
        {"accel.example.jp", "80x", "-50\n"},
        {"accel.example.jp", "", "-50\n"},
        {"bad host", "32080", "-50\n"},
        {"evil\nhost", "32080", "-50\n"},
        {"", "32080", "0\n"},     // no accelerator chosen
        {"NULL", "32080", "0\n"}, // the store's "no proxy"
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        EXPECT_EQ(Probe({"apply", c.host, c.port}).out, c.out);
        EXPECT_EQ(Desktop(), "'auto' 'old.example' 3128");
        EXPECT_FALSE(Saved());
    }
}

TEST_F(DesktopProxyTest, ADesktopWithoutTheSchemaIsLeftAlone)
{
    ScopedEnv noSchemas("XDG_DATA_DIRS", dir / "nothing");
    ScopedEnv noSchemaDir("GSETTINGS_SCHEMA_DIR", dir / "nothing");
    auto r = Probe({"apply", "accel.example.jp", "32080"});
    EXPECT_EQ(r.out, "0\nhttp_proxy=http://accel.example.jp:32080/\nHTTP_PROXY=http://accel.example.jp:32080/\n");
    EXPECT_FALSE(Saved());
    EXPECT_EQ(Probe({"restore"}).out, "0\n");
}

} // namespace
