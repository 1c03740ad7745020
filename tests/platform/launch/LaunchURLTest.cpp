// Default handlers, opening URLs and the browser restart, against stub programs registered as
// the sandbox's default "http" and "mailto" handlers.
#include "LaunchSandbox.h"

#include "platform/launch/KBrowserQuit.h"
#include "platform/launch/KDesktopProxy.h"
#include "platform/launch/KProcesses.h"
#include "platform/launch/ULaunchURL.h"
#include "platform/shell/KTicks.h"

#include <gtest/gtest.h>

namespace {

class SandboxEnvironment : public ::testing::Environment {
public:
    void TearDown() override { LaunchSandbox::Destroy(); }
};
const auto* gEnv = ::testing::AddGlobalTestEnvironment(new SandboxEnvironment);

class LaunchURLTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        box.Reset();
        ULaunchURL::SetRestartNotice([this](const std::string& name) { notices.push_back(name); });
    }
    void TearDown() override
    {
        ULaunchURL::SetRestartNotice(nullptr);
        // A wait left idling by a failed test must not outlive it.
        while (CWaitForTheEnd::LiveCount() > 0 && KPeriodical::IdlerCount() > 0) {
            KTestClock clock;
            KTestClock::Advance(1000);
            KPeriodical::DevoteTimeToIdlers();
        }
        box.Reset();
    }
    bool BrowserRuns() { return ULaunchURL::FindProcess("kvstub-chromium.desktop") == kStatusOK; }
    bool WaitBrowserGone()
    {
        for (int i = 0; i < 2000; ++i) {
            LaunchSandbox::Reap();
            if (!BrowserRuns()) return true;
            usleep(10000);
        }
        return false;
    }

    LaunchSandbox& box = LaunchSandbox::Get();
    std::vector<std::string> notices;
};

TEST_F(LaunchURLTest, DefaultHandlersAreTheRegisteredDesktopEntries)
{
    struct Case {
        const char* url;
        OSStatus status;
        const char* creator;
    };
    const Case cases[] = {
        {"http:", kStatusOK, "kvstub-chromium.desktop"},
        {"mailto:", kStatusOK, "kvstub-mail.desktop"},
        {"https://example.com/", kStatusOK, "kvstub-chromium.desktop"},
        {"kavanti-nothing:", kStatusApplicationNotFound, ""},
        {"", kStatusBadParam, ""},
        {"no scheme here", kStatusBadParam, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        std::string creator;
        EXPECT_EQ(ULaunchURL::GetHelperCreator(c.url, creator), c.status);
        EXPECT_EQ(creator, c.creator);
    }
}

TEST_F(LaunchURLTest, LaunchHelperStartsTheHandlerWithoutADocument)
{
    ASSERT_EQ(ULaunchURL::LaunchHelper("mailto:"), kStatusOK);
    ASSERT_TRUE(box.WaitStarts("kvmail", 1));
    EXPECT_EQ(box.Starts("kvmail")[0], "start http_proxy=");
    EXPECT_TRUE(box.Starts("chromium").empty());

    EXPECT_EQ(ULaunchURL::LaunchHelper(""), kStatusBadParam);
    EXPECT_EQ(ULaunchURL::LaunchHelper("kavanti-nothing:"), kStatusApplicationNotFound);
}

TEST_F(LaunchURLTest, LaunchURLOpensTheAddressWithItsHandler)
{
    box.SetMode("chromium", "exit");
    box.SetMode("kvmail", "exit");
    EXPECT_EQ(ULaunchURL::LaunchURL(Str255::From("http://www.example.jp/kavanti/?a=1&b=2")), kStatusOK);
    ASSERT_TRUE(box.WaitStarts("chromium", 1));
    EXPECT_EQ(box.Starts("chromium")[0], "start [http://www.example.jp/kavanti/?a=1&b=2] http_proxy=");
    EXPECT_EQ(ULaunchURL::LaunchURL(Str255::From("mailto:author@example.jp")), kStatusOK);
    ASSERT_TRUE(box.WaitStarts("kvmail", 1));
    EXPECT_EQ(box.Starts("kvmail")[0], "start [mailto:author@example.jp] http_proxy=");

    // Nothing starts for a text that is not a URL.
    for (const char* bad : {"", "www.example.jp", "http://exa mple.jp/", "kavanti-nothing:x"}) {
        SCOPED_TRACE(bad);
        EXPECT_NE(ULaunchURL::LaunchURL(Str255::From(bad)), kStatusOK);
    }
    EXPECT_EQ(ULaunchURL::LaunchURL(Str255::From("")), kStatusBadParam);
    usleep(200000);
    EXPECT_EQ(box.Starts("chromium").size(), 1u);
    EXPECT_EQ(box.Starts("kvmail").size(), 1u);
}

TEST_F(LaunchURLTest, ProgramsStartedCarryTheAcceleratorProxy)
{
    box.SetMode("chromium", "exit");
    ASSERT_EQ(KDesktopProxy::Apply("accel.example.jp", 32080), kStatusOK);
    EXPECT_EQ(ULaunchURL::LaunchHelper("http:"), kStatusOK);
    ASSERT_TRUE(box.WaitStarts("chromium", 1));
    EXPECT_EQ(box.Starts("chromium")[0], "start http_proxy=http://accel.example.jp:32080/");

    ASSERT_EQ(KDesktopProxy::Restore(), kStatusOK);
    EXPECT_EQ(ULaunchURL::LaunchHelper("http:"), kStatusOK);
    ASSERT_TRUE(box.WaitStarts("chromium", 2));
    EXPECT_EQ(box.Starts("chromium")[1], "start http_proxy=");
}

TEST_F(LaunchURLTest, NoBrowserRunningStartsItAtOnceWithoutWaiting)
{
    const size_t idlers = KPeriodical::IdlerCount();
    EXPECT_EQ(ULaunchURL::LaunchDefaultBrowser(), kStatusOK);
    EXPECT_EQ(CWaitForTheEnd::LiveCount(), 0u);
    EXPECT_EQ(KPeriodical::IdlerCount(), idlers);
    ASSERT_TRUE(box.WaitStarts("chromium", 1));
}

TEST_F(LaunchURLTest, RunningBrowserIsAskedToQuitAndStartedAgainOnceGone)
{
    // Stays running after TERM, so the test decides when it is gone.
    box.SetMode("chromium", "ignore-term");
    ASSERT_EQ(ULaunchURL::LaunchHelper("http:"), kStatusOK);
    ASSERT_TRUE(box.WaitReady("chromium"));
    const pid_t first = box.Pids("chromium").at(0);
    ASSERT_TRUE(BrowserRuns());

    ASSERT_EQ(ULaunchURL::LaunchDefaultBrowser(), kStatusOK);
    EXPECT_EQ(CWaitForTheEnd::LiveCount(), 1u);
    KPeriodical::DevoteTimeToIdlers();
    EXPECT_EQ(CWaitForTheEnd::LiveCount(), 1u) << "still running: keeps waiting";
    EXPECT_EQ(box.Starts("chromium").size(), 1u);

    box.SetMode("chromium", "stay");
    kill(first, SIGKILL);
    ASSERT_TRUE(WaitBrowserGone());
    KPeriodical::DevoteTimeToIdlers();
    EXPECT_EQ(CWaitForTheEnd::LiveCount(), 0u);
    ASSERT_TRUE(box.WaitStarts("chromium", 2));
    EXPECT_TRUE(notices.empty());
}

TEST_F(LaunchURLTest, BrowserQuittingOnTermIsRestarted)
{
    ASSERT_EQ(ULaunchURL::LaunchHelper("http:"), kStatusOK);
    ASSERT_TRUE(box.WaitReady("chromium"));
    ASSERT_EQ(ULaunchURL::LaunchDefaultBrowser(), kStatusOK);
    ASSERT_TRUE(WaitBrowserGone());
    KPeriodical::DevoteTimeToIdlers();
    ASSERT_TRUE(box.WaitStarts("chromium", 2));
    EXPECT_EQ(CWaitForTheEnd::LiveCount(), 0u);
}

TEST_F(LaunchURLTest, BrowserNotQuittingWithin300TicksIsNotRestarted)
{
    box.SetMode("chromium", "ignore-term");
    ASSERT_EQ(ULaunchURL::LaunchHelper("http:"), kStatusOK);
    ASSERT_TRUE(box.WaitReady("chromium"));

    KTestClock clock(0xFFFFFF00u); // the deadline wraps past zero
    ASSERT_EQ(ULaunchURL::LaunchDefaultBrowser(), kStatusOK);
    KTestClock::Advance(300);
    KPeriodical::DevoteTimeToIdlers();
    EXPECT_EQ(CWaitForTheEnd::LiveCount(), 1u) << "at the deadline it still waits";
    KTestClock::Advance(1);
    KPeriodical::DevoteTimeToIdlers();
    EXPECT_EQ(CWaitForTheEnd::LiveCount(), 0u);
    EXPECT_TRUE(BrowserRuns());
    usleep(200000);
    EXPECT_EQ(box.Starts("chromium").size(), 1u);
    EXPECT_EQ(notices, std::vector<std::string>{"Stub Chromium"});
}

TEST_F(LaunchURLTest, BrowserThatTakesTermForACrashIsLeftRunning)
{
    // Without a display there is no window to close, and SIGTERM is only for clean quitters.
    const pid_t pid = box.Spawn("firefox");
    ASSERT_TRUE(box.WaitReady("firefox"));
    const auto exes = KProcesses::ExecutablesOf("firefox");
    const auto pids = KProcesses::Find(exes);
    ASSERT_EQ(pids, std::vector<pid_t>{pid});
    EXPECT_EQ(KBrowserQuit::AskToQuit(pids, false), kStatusEventNotHandled);
    usleep(100000);
    EXPECT_EQ(KProcesses::FindFirst(exes), kStatusOK);

    struct Case {
        const char* id;
        std::vector<std::string> exes;
        bool clean;
    };
    const Case cases[] = {
        {"chromium.desktop", {"/usr/bin/chromium", "/usr/lib/chromium/chromium"}, true},
        {"kvstub-chromium.desktop", {box.bin("chromium")}, true},
        {"google-chrome.desktop", {"/opt/google/chrome/google-chrome"}, true},
        {"firefox-esr.desktop", {"/usr/lib/firefox-esr/firefox-esr"}, false},
        {"org.gnome.Epiphany.desktop", {"/usr/bin/epiphany"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(KBrowserQuit::QuitsCleanlyOnTerm(c.id, c.exes), c.clean);
    }
}

TEST_F(LaunchURLTest, ApplyChecksSeeTheBrowserAndTheNetworkSettings)
{
    EXPECT_FALSE(ULaunchURL::IsCacheBrowserRunning());
    EXPECT_FALSE(ULaunchURL::IsNetworkSettingsRunning());
    box.Spawn("firefox");
    box.Spawn("nm-connection-editor");
    ASSERT_TRUE(box.WaitReady("firefox"));
    ASSERT_TRUE(box.WaitReady("nm-connection-editor"));
    EXPECT_TRUE(ULaunchURL::IsCacheBrowserRunning());
    EXPECT_TRUE(ULaunchURL::IsNetworkSettingsRunning());
    box.KillStubs();
    EXPECT_FALSE(ULaunchURL::IsCacheBrowserRunning());
    EXPECT_FALSE(ULaunchURL::IsNetworkSettingsRunning());
}

} // namespace
