// One connect without the real window: kavanti-cardsim on a pseudo-terminal behind a fake
// sysfs, kavanti-pppsim as pppd, the real KavantiTool through kavanti-sudosim with the
// credentials kept in a real keychain (a private gnome-keyring, or the in-memory fallback where
// none can run), and kavanti-servicesim for the remaining time. The recording window stands in
// for the panels, a scripted credentials dialog for the administrator.
#include "CoreFixture.h"

#include "app/netconfig/CAuthPrompt.h"
#include "app/netconfig/CAuthTool.h"
#include "app/netconfig/USysConfig.h"
#include "platform/cf/PList.h"
#include "platform/store/SCPreferences.h"
#include "support/KeyringSession.h"
#include "support/ServiceSim.h"
#include "support/SimProcess.h"

#include <pwd.h>
#include <sys/stat.h>

namespace {

const char* kNumber = "07012345678";
const char* kUser = "kavanti@example.jp";
const char* kPassword = "Pw-7g2Kq";

const char* kAdminPassword = "admin-pw";

std::string LoginName()
{
    const passwd* pw = getpwuid(geteuid());
    return pw ? pw->pw_name : "root";
}

// The administrator dialog answered as a person would: the user name it comes filled with is
// left alone and the password typed, then OK; or Cancel.
class ScriptedPrompt : public CAuthPrompt {
public:
    bool ok = true;
    std::string password = kAdminPassword;
    int asked = 0;
    std::vector<std::string> filledWith;
    bool AskCredentials(std::string& userName, std::string& typed) override
    {
        ++asked;
        filledWith.push_back(userName);
        if (!ok) return false;
        typed = password;
        return true;
    }
};

// A store with one ordinary location, "Home", holding the built-in Ethernet.
const char* kOrdinaryStore = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>CurrentSet</key><string>/Sets/H</string>
<key>Sets</key><dict>
 <key>H</key><dict><key>UserDefinedName</key><string>Home</string><key>Network</key><dict>
  <key>Global</key><dict><key>IPv4</key><dict><key>ServiceOrder</key><array><string>E1</string></array></dict></dict>
  <key>Service</key><dict><key>E1</key><dict><key>__LINK__</key><string>/NetworkServices/E1</string></dict></dict></dict></dict>
</dict>
<key>NetworkServices</key><dict>
 <key>E1</key><dict><key>UserDefinedName</key><string>Built-in Ethernet</string>
  <key>Interface</key><dict><key>DeviceName</key><string>eth0</string><key>Hardware</key><string>Ethernet</string></dict></dict>
</dict></dict></plist>
)";

class CoreEndToEnd : public CoreTest {
protected:
    std::string sudoLog = root.Path() + "/sudo.log";
    // kavanti-sudosim itself, behind a one-line recorder of its command lines.
    std::string sudo = root.Path() + "/sudo";
    ScopedEnv sudoEnv{"KAVANTI_SUDO", sudo};
    ScopedEnv pppsimEnv{"KAVANTI_PPPSIM", "delay=5"};
    ScriptedPrompt prompt;
    std::unique_ptr<ServiceSim> service;

    void SetUp() override
    {
        CoreTest::SetUp();
        RegisterAuthPrompt(&prompt);
        ForgetCredentials();
        WriteFileText(root.Path() + "/etc/kavanti-sudosim/password", std::string(kAdminPassword) + "\n");
        WriteFileText(sudo, "#!/bin/sh\necho \"$*\" >> '" + sudoLog + "'\nexec '" + StageBin("kavanti-sudosim") +
                                "' \"$@\"\n");
        chmod(sudo.c_str(), 0755);
        sysfs.Device("pci0000:00/0000:00:19.0", "pci");
        sysfs.Net("eth0", "pci0000:00/0000:00:19.0", "00:1b:21:aa:bb:cc");
        AddCardPort();
        WriteFileText(KPaths::StorePath(), kOrdinaryStore);
        service = std::make_unique<ServiceSim>(std::vector<std::string>{"--number", std::string(kNumber) + "=125"});
        window.userName = kUser;
        window.password = kPassword;
        window.config[1417] = true;
    }
    void TearDown() override
    {
        CoreTest::TearDown();
        RegisterAuthPrompt(nullptr);
        CAuthTool::SetToolFolder("");
        ForgetCredentials();
    }
    static CAuthTool& AuthTool() { return CApplicationMain::GetSysConfig()->GetAuthTool(); }
    // Every test starts as a first use: nothing kept from an earlier one.
    static void ForgetCredentials()
    {
        while (AuthTool().DeleteKeyChainItem()) {}
    }
    // The kept credentials as "user\tpassword", or "" when none are kept.
    static std::string Kept()
    {
        char user[CAuthTool::kCredentialSize] = {}, password[CAuthTool::kCredentialSize] = {};
        if (!AuthTool().SearchKeyChain(user, password)) return "";
        return std::string(user) + "\t" + password;
    }
    // Runs of a program through sudo (password checks aside).
    int ToolRuns() const
    {
        const std::string log = ReadFileText(sudoLog);
        int n = 0;
        for (size_t at = log.find(" -- "); at != std::string::npos; at = log.find(" -- ", at + 1)) ++n;
        return n;
    }
    void StartApp(PrefsSetup p = {})
    {
        p.limitURL = service->Base();
        p.proxy = 1; // an accelerator proxy: the card service's configuration can then be right
        WritePrefs(p);
        StartCard({"--number", kNumber, "--user", kUser, "--password", kPassword});
        ASSERT_TRUE(Start());
    }
    static std::string CurrentLocation()
    {
        char name[256] = {};
        USysConfig::GetCurrentSetName(name);
        return name;
    }
    // Turns the loop, giving idle time and letting ticks pass, until `done`.
    bool Run(const std::function<bool()>& done, double seconds = 20)
    {
        return WaitFor([&] {
            After(1);
            return done();
        }, seconds);
    }
    size_t Seen(short code) const { return size_t(std::count(window.statuses.begin(), window.statuses.end(), code)); }
};

} // namespace

TEST_F(CoreEndToEnd, ConnectMakesTheLocationDialsFetchesTheRemainingTimeAndDisconnects)
{
    StartApp();
    ASSERT_EQ(CurrentLocation(), "Home");
    ClearRecords();
    app->ObeyCommand(kCmdConnect, nullptr);
    EXPECT_EQ(ToolRuns(), 1);
    EXPECT_EQ(prompt.filledWith, std::vector<std::string>{LoginName()});
    EXPECT_EQ(Kept(), LoginName() + "\t" + kAdminPassword) << "the first use keeps the credentials";
    EXPECT_EQ(CurrentLocation(), "KVAUTODL");
    ASSERT_TRUE(Run([&] { return !window.limits.empty(); })) << testing::PrintToString(window.statuses);
    EXPECT_EQ(CApplicationMain::GetAppStatus(), kAppConnected);
    EXPECT_EQ(window.limits, (std::vector<LimitShown>{{"02:05", 133}}));
    EXPECT_EQ(CApplicationMain::GetAppPrefs()->GetLimitTime().View(), "02:05");

    app->ObeyCommand(kCmdDisconnect, nullptr);
    ASSERT_TRUE(Run([&] { return CApplicationMain::GetAppStatus() == kAppIdle && Seen(kDialupIdle) > 0; }));
    EXPECT_EQ(window.statuses, (std::vector<short>{4, 6, 3, 2, 10, 11, 7, 0}));

    // The configuration is now right: the next connect dials without the tool.
    ClearRecords();
    app->ObeyCommand(kCmdConnect, nullptr);
    EXPECT_EQ(ToolRuns(), 1);
    EXPECT_EQ(prompt.asked, 1);
    ASSERT_TRUE(Run([&] { return window.limits.size() == 1; }));
    EXPECT_EQ(window.statuses, (std::vector<short>{4, 6, 3, 2, 10, 11})) << "and the remaining time once more";
}

TEST_F(CoreEndToEnd, TwoActiveServicesHaveTheConfigurationWrittenAgain)
{
    StartApp();
    app->ObeyCommand(kCmdConnect, nullptr);
    ASSERT_TRUE(Run([&] { return Seen(kDialupConnected) > 0; }));
    app->ObeyCommand(kCmdDisconnect, nullptr);
    ASSERT_TRUE(Run([&] { return CApplicationMain::GetAppStatus() == kAppIdle && Seen(kDialupIdle) > 0; }));
    ASSERT_EQ(ToolRuns(), 1);

    // Every service of the store switched on: the card's is still right, but not alone.
    PRef<PValue> read;
    ASSERT_EQ(PListReadFile(KPaths::StorePath(), false, read), PListReadResult::Ok);
    auto tree = PRefCast<PDictionary>(read);
    ASSERT_TRUE(tree);
    auto services = PRefCast<PDictionary>(tree->GetRef("NetworkServices"));
    ASSERT_TRUE(services);
    auto activated = PDictionary::CreateMutable();
    for (const auto& [id, value] : services->Entries()) {
        auto service = PRefCast<PDictionary>(value)->MutableCopy();
        service->Remove("__INACTIVE__");
        activated->Set(id, service);
    }
    auto edited = tree->MutableCopy();
    edited->Set("NetworkServices", activated);
    std::string xml;
    ASSERT_TRUE(PListCreateXMLData(*edited, xml));
    WriteFileText(KPaths::StorePath(), xml);
    ASSERT_GT(USysConfig::GetActiveServiceCount(), 1);

    app->ObeyCommand(kCmdConnect, nullptr);
    EXPECT_EQ(ToolRuns(), 2);
    EXPECT_EQ(prompt.asked, 1) << "the kept credentials answered the second time";
    EXPECT_EQ(USysConfig::GetActiveServiceCount(), 1) << "the tool switched the others off";
}

TEST_F(CoreEndToEnd, CancelInTheAdministratorPromptEndsSilently)
{
    StartApp();
    prompt.ok = false;
    ClearRecords();
    app->ObeyCommand(kCmdConnect, nullptr);
    EXPECT_EQ(prompt.asked, 1);
    EXPECT_EQ(ToolRuns(), 0);
    EXPECT_TRUE(window.statuses.empty());
    EXPECT_EQ(CApplicationMain::GetAppStatus(), kAppIdle);
    EXPECT_TRUE(app->IsIdling()) << "the port check keeps running";
    EXPECT_EQ(CurrentLocation(), "Home");
    EXPECT_EQ(Kept(), "");
}

TEST_F(CoreEndToEnd, MissingModemScriptShowsNoModemScript)
{
    RemoveScript("TKS KSR23C-J");
    StartApp();
    ClearRecords();
    app->ObeyCommand(kCmdConnect, nullptr);
    EXPECT_EQ(window.statuses, std::vector<short>{kAppNoModemScript});
    EXPECT_EQ(ToolRuns(), 0);
    EXPECT_EQ(CardCommands("ATD"), 0);
}

TEST_F(CoreEndToEnd, ToolFailureShowsConfigurationFailed)
{
    const std::string standIn = root.Path() + "/stand-in";
    WriteFileText(standIn + "/KavantiTool", "#!/bin/sh\necho ready\nIFS= read -r _\nexit 3\n");
    chmod((standIn + "/KavantiTool").c_str(), 0755);
    std::filesystem::create_directories(root.Path() + "/empty");
    struct Case {
        const char* what;
        std::string typed;      // the password typed into the dialog
        std::string toolFolder; // "" the installed KavantiTool
        bool kept;              // the typed credentials are kept
    };
    const Case cases[] = {
        {"sudo refuses the typed password", "not-the-admin-pw", "", false},
        {"the tool exits with an error", kAdminPassword, standIn, true},
        {"the tool is missing", kAdminPassword, root.Path() + "/empty", true},
    };
    StartApp();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ForgetCredentials();
        prompt.password = c.typed;
        CAuthTool::SetToolFolder(c.toolFolder);
        app->SetAppStatus(kAppIdle, false);
        ClearRecords();
        app->ObeyCommand(kCmdConnect, nullptr);
        EXPECT_EQ(window.statuses, std::vector<short>{kAppConfigFailed});
        EXPECT_EQ(CardCommands("ATD"), 0);
        EXPECT_EQ(CurrentLocation(), "Home");
        EXPECT_EQ(Kept().empty(), !c.kept);
        // -5 blocks further connects until something returns the status to 0.
        ClearRecords();
        app->ObeyCommand(kCmdConnect, nullptr);
        EXPECT_TRUE(window.statuses.empty());
    }
}

TEST_F(CoreEndToEnd, ElevenFailingDialsWithRedialGiveTenRedialsThreeHundredTicksApart)
{
    StopCard();
    PrefsSetup p;
    p.limitURL = service->Base();
    p.proxy = 1;
    WritePrefs(p);
    StartCard({"--number", kNumber, "--dial-result", "busy"});
    ASSERT_TRUE(Start());
    CPPPRedial* redial = CPPPRedial::GetRedialProc();
    ClearRecords();
    CApplicationMain::SetRedialMode(true);
    app->ObeyCommand(kCmdConnect, nullptr);

    std::vector<uint32_t> gaps;
    for (size_t failures = 1; failures <= 11; ++failures) {
        ASSERT_TRUE(WaitFor([&] { return Seen(kDialupError) >= failures; }, 20)) << "failure " << failures;
        if (failures == 11) break;
        ASSERT_TRUE(redial->IsIdeling()) << "after failure " << failures;
        EXPECT_EQ(CApplicationMain::GetAppStatus(), kAppIdle);
        if (failures == 3) {
            // A failure reported while a redial is pending starts no second one and uses none up.
            const int16_t left = app->GetRedialCount();
            app->SetDialupStatus(kDialupError, 0);
            EXPECT_EQ(app->GetRedialCount(), left);
            window.statuses.pop_back();
        }
        uint32_t waited = 0;
        while (redial->IsIdeling() && waited < 1000) {
            KTestClock::Advance(1);
            ++waited;
            Idle();
        }
        gaps.push_back(waited);
    }
    WaitFor([] { return false; }, 0.5);
    EXPECT_EQ(gaps.size(), 10u);
    for (uint32_t g : gaps) EXPECT_TRUE(g == 300 || g == 301) << g;
    EXPECT_FALSE(redial->IsIdeling());
    EXPECT_FALSE(CApplicationMain::GetRedialMode());
    EXPECT_EQ(Seen(kDialupError), 11u);
    EXPECT_EQ(window.statuses.back(), kDialupError);
    EXPECT_EQ(CardCommands("ATD"), 11);
    EXPECT_NE(CApplicationMain::GetDialupError(), 0) << "the reason comes with the failure";
    EXPECT_EQ(ToolRuns(), 1) << "redials do not run the checks again";
}

KAVANTI_KEYRING_MAIN()

namespace {

std::string Gsetting(const char* schema, const char* key)
{
    RunResult r = RunProgram({"/usr/bin/gsettings", "get", schema, key});
    while (!r.out.empty() && r.out.back() == '\n') r.out.pop_back();
    return r.out;
}

// The desktop proxy as one text: mode, HTTP host and port.
std::string DesktopProxy()
{
    return Gsetting("org.gnome.system.proxy", "mode") + " " + Gsetting("org.gnome.system.proxy.http", "host") + " " +
           Gsetting("org.gnome.system.proxy.http", "port");
}

} // namespace

TEST_F(CoreEndToEnd, TheAcceleratorProxyIsOnTheDesktopOnlyWhileTheLinkIsUp)
{
    // GSettings on a key file in the sandbox home, read afresh by gsettings for every check.
    const std::string home = root.Path() + "/home";
    ScopedEnv backend{"GSETTINGS_BACKEND", "keyfile"};
    ScopedEnv config{"XDG_CONFIG_HOME", home + "/.config"};
    ScopedEnv state{"XDG_STATE_HOME", home + "/.local/state"};
    for (const std::vector<std::string>& set :
         {std::vector<std::string>{"org.gnome.system.proxy", "mode", "auto"},
          {"org.gnome.system.proxy.http", "host", "old.example"},
          {"org.gnome.system.proxy.http", "port", "3128"}})
        ASSERT_EQ(RunProgram({"/usr/bin/gsettings", "set", set[0], set[1], set[2]}).status, 0);
    const std::string before = DesktopProxy();
    ASSERT_EQ(before, "'auto' 'old.example' 3128");

    // An earlier run killed while its link was up.
    ASSERT_EQ(RunProgram({KAVANTI_PROXY_PROBE, "apply-then-die", "left.example", "8080"}).status, -1);
    ASSERT_EQ(DesktopProxy(), "'manual' 'left.example' 8080");
    StartApp();
    EXPECT_EQ(DesktopProxy(), before) << "the next start puts the user's settings back";

    app->ObeyCommand(kCmdConnect, nullptr);
    ASSERT_TRUE(Run([&] { return CApplicationMain::GetAppStatus() == kAppConnected; }))
        << testing::PrintToString(window.statuses);
    const std::string accelerator = CSysConfig::ProxyServerFor(1);
    EXPECT_EQ(DesktopProxy(), "'manual' '" + accelerator + "' 32080");

    app->ObeyCommand(kCmdDisconnect, nullptr);
    ASSERT_TRUE(Run([&] { return CApplicationMain::GetAppStatus() == kAppIdle && Seen(kDialupIdle) > 0; }));
    EXPECT_EQ(DesktopProxy(), before) << "link down restores";

    // Quitting with the link up restores too.
    app->ObeyCommand(kCmdConnect, nullptr);
    ASSERT_TRUE(Run([&] { return CApplicationMain::GetAppStatus() == kAppConnected; }));
    ASSERT_EQ(DesktopProxy(), "'manual' '" + accelerator + "' 32080");
    CApplicationMain::GetPPPControl()->ClosePort();
    app.reset();
    EXPECT_EQ(DesktopProxy(), before);
}
