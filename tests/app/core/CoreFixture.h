// The application object on the shell, in a sandbox: a fake sysfs listing the card's port,
// kavanti-cardsim behind it, the test clock, a preferences file, and a recording window in
// place of the real one.
#pragma once

#include <QCoreApplication>
#include <chrono>

#include "app/core/CApplicationMain.h"
#include "app/core/CLaunchHooks.h"
#include "app/core/CLimitTime.h"
#include "app/core/CMainWindowIface.h"
#include "app/ppp/CPPPRedial.h"
#include "platform/cf/PList.h"
#include "platform/paths/KPaths.h"
#include "platform/shell/KPeriodical.h"
#include "platform/shell/KTicks.h"
#include "support/FakeSysfs.h"
#include "support/QtLoop.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

struct LimitShown {
    std::string text;
    short traits;
    bool operator==(const LimitShown& o) const { return text == o.text && traits == o.traits; }
};
inline void PrintTo(const LimitShown& l, std::ostream* os) { *os << '"' << l.text << "\"/" << l.traits; }

class RecordingWindow : public CMainWindowIface {
public:
    std::vector<short> statuses;
    std::vector<LimitShown> limits;
    std::vector<ModemInformation> cardInfos;
    std::map<int32_t, bool> config;
    std::string accessPoint = "0570570711##64", userName = "kavanti@example.jp", password = "Pw-7g2Kq";
    int moves = 0, shows = 0;
    std::function<void()> onShow;
    std::function<void(short)> onStatus;

    void SetStatus(short code) override
    {
        statuses.push_back(code);
        if (onStatus) onStatus(code);
    }
    void SetLimitText(const char* text, int32_t length, short traitsID) override
    {
        limits.push_back({std::string(text, size_t(length)), traitsID});
    }
    void SetCardInfo(const ModemInformation* info) override { cardInfos.push_back(*info); }
    void GetDialupSetting(Str255& ap, Str255& user, Str255& pw) override
    {
        ap.Assign(accessPoint);
        user.Assign(userName);
        pw.Assign(password);
    }
    bool GetConfigSet(int32_t paneID) override
    {
        auto it = config.find(paneID);
        return it != config.end() && it->second;
    }
    void MovePosition() override { ++moves; }
    void SavePosition() override {}
    void Show() override
    {
        ++shows;
        if (onShow) onShow();
    }
};

class RecordingFactory : public CWindowFactory {
public:
    RecordingWindow* window = nullptr;
    std::vector<std::string> alerts;
    int hides = 0, abouts = 0;
    CMainWindowIface* CreateMainWindow(KCommander*) override { return window; }
    void StopAlert(const std::string& title, const std::string& text) override { alerts.push_back(title + " " + text); }
    void ShowAboutBox() override { ++abouts; }
    void HideApplication() override { ++hides; }
};

class RecordingLaunch : public CLaunchHooks {
public:
    std::vector<std::string> calls;
    void LaunchHelper(const char* url) override { calls.push_back(std::string("helper ") + url); }
    void LaunchURL(const Str255& url) override { calls.push_back("url " + std::string(url.View())); }
    void LaunchDefaultBrowser() override { calls.push_back("restart-browser"); }
};

inline std::string StagedProgram(const std::string& rel)
{
    const char* stage = std::getenv("KAVANTI_STAGE");
    return std::string(stage ? stage : "build/stage") + "/" + rel;
}

// The options of the preferences file a test starts with.
struct PrefsSetup {
    bool autoConnect = false;
    bool autoMeasure = false;
    std::string limitURL = "http://127.0.0.1:9/remaining/";
    std::string limitTime;
    std::string accessPoint = "0570570711";
    std::string userName = "kavanti@example.jp";
    std::string password = "Pw-7g2Kq";
    int linkMode = 2; // "##64"
    int proxy = 4;    // none
    bool write = true;
};

// Outside a private keyring session (tests/support/with-keyring) the keychain must not reach the
// desktop's own Secret Service: a connect could otherwise find and try the user's real credentials.
inline std::string TestSessionBus()
{
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (std::getenv("KAVANTI_KEYRING_SESSION") && bus) return bus;
    return "unix:path=/nonexistent/kavanti-test-bus";
}

class CoreTest : public ::testing::Test {
protected:
    ScopedEnv busEnv{"DBUS_SESSION_BUS_ADDRESS", TestSessionBus()};
    // Connecting puts the accelerator proxy on the desktop: never on the real user's settings.
    ScopedEnv gsettingsEnv{"GSETTINGS_BACKEND", "memory"};
    SandboxRoot root;
    FakeSysfs sysfs{root.Path()};
    std::string device = KPaths::DevicePath("ttyS1");
    std::string resources = root.Path() + "/resources";
    std::string cardLog = root.Path() + "/card.log";
    ScopedEnv resourcesEnv{"KAVANTI_RESOURCES", resources};
    ScopedEnv pppdEnv{"KAVANTI_PPPD", StagedProgram("bin/kavanti-pppsim")};
    std::unique_ptr<KTestClock> clock = std::make_unique<KTestClock>(1000);
    RecordingWindow window;
    RecordingFactory factory;
    RecordingLaunch launch;
    std::unique_ptr<CApplicationMain> app;
    pid_t card = -1;

    void SetUp() override
    {
        TestApp();
        factory.window = &window;
        RegisterWindowFactory(&factory);
        RegisterLaunchHooks(&launch);
        std::filesystem::create_directories(root.Path() + "/dev");
        std::filesystem::create_directories(resources + "/modem-scripts");
        std::filesystem::copy_file(Shipped() + "/DefaultPref.plist", resources + "/DefaultPref.plist");
        for (const char* s : {"Kirodenki KTR21-J", "Kirodenki KTR21C-J", "Kirodenki KTR22-J", "Kirodenki KTR22C-J",
                              "SUNTAC Slipper", "TKS KSR23C-J"})
            InstallScript(s);
        SetLimitTimeoutForTesting(1000);
    }
    void TearDown() override
    {
        if (app) {
            if (CPPPRedial* r = CPPPRedial::GetRedialProc()) r->StopRedial();
            CApplicationMain::GetPPPControl()->ClosePort();
        }
        app.reset();
        // Requests still in flight end with the loop turned once more.
        WaitFor([] { return false; }, 0.05);
        StopCard();
        RegisterWindowFactory(nullptr);
        RegisterLaunchHooks(nullptr);
        SetLimitTimeoutForTesting(0);
    }

    // The resources of the build, where the defaults file and the shipped scripts are.
    static std::string Shipped()
    {
        static const std::string path = [] {
            const char* stage = std::getenv("KAVANTI_STAGE");
            return std::string(stage ? stage : "build/stage") + "/share/kavanti";
        }();
        return path;
    }
    void InstallScript(const std::string& name)
    {
        std::filesystem::copy_file(Shipped() + "/modem-scripts/" + name, resources + "/modem-scripts/" + name,
                                   std::filesystem::copy_options::overwrite_existing);
    }
    void RemoveScript(const std::string& name) { std::filesystem::remove(resources + "/modem-scripts/" + name); }

    void WritePrefs(const PrefsSetup& p)
    {
        auto d = PDictionary::CreateMutable();
        d->Set("AccessPoint", PStr(p.accessPoint));
        d->Set("UserName", PStr(p.userName));
        std::vector<uint8_t> pw;
        for (char c : p.password) pw.push_back(0), pw.push_back(uint8_t(c));
        d->Set("Password", PData::Create(pw));
        d->Set("LinkMode", PNum(p.linkMode));
        d->Set("Proxy", PNum(p.proxy));
        d->Set("Service", PNum(0));
        std::vector<PRef<PValue>> set;
        const bool values[10] = {p.autoConnect, p.autoMeasure, false, false, false, false, true, false, false, false};
        for (bool b : values) set.push_back(PBoolean::Create(b));
        d->Set("ApplicationSetting", PArray::Create(set));
        d->Set("HTTPAddress", PStr("http://www.kavanti.example/"));
        d->Set("MailAddress", PStr("mailto:support@kavanti.example"));
        d->Set("WindowTop", PNum(80));
        d->Set("WindowLeft", PNum(80));
        d->Set("CCLOption", PBoolean::Create(true));
        d->Set("LimitTimeURL", PStr(p.limitURL));
        d->Set("LimitTime", PStr(p.limitTime));
        std::string xml;
        ASSERT_TRUE(PListCreateXMLData(*d, xml));
        WriteFileText(KPaths::PreferencesFile(), xml);
    }

    // The PC Card's port in sysfs (a modem on the pcmcia bus).
    void AddCardPort()
    {
        sysfs.Device("pcmcia0/0.0", "pcmcia");
        sysfs.Tty("ttyS1", "pcmcia0/0.0");
    }
    void RemoveCardPort() { std::filesystem::remove(sysfs.Sys() / "class/tty/ttyS1"); }
    // The USB Slipper adapter's port.
    void AddSlipperPort()
    {
        const fs::path usb = sysfs.Device("usb1/1-1", "usb");
        sysfs.Attribute(usb, "product", "Slipper");
        sysfs.Device("usb1/1-1/1-1:1.0", "usb");
        sysfs.Tty("ttyS1", "usb1/1-1/1-1:1.0");
    }

    void StartCard(std::vector<std::string> options = {})
    {
        std::vector<std::string> args = {StagedProgram("bin/kavanti-cardsim"), "--link", device, "--log", cardLog,
                                         "--connect-delay", "20"};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        ASSERT_EQ(posix_spawn(&card, argv[0], &fa, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&fa);
        ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(device); }, 5)) << "the card simulator did not start";
    }
    void StopCard()
    {
        if (card > 0) {
            kill(card, SIGTERM);
            waitpid(card, nullptr, 0);
            card = -1;
        }
    }
    // Commands the card received that begin with `prefix`.
    int CardCommands(const std::string& prefix) const
    {
        const std::string log = ReadFileText(cardLog);
        int n = 0;
        for (size_t at = log.find(prefix); at != std::string::npos; at = log.find(prefix, at + 1))
            if (at == 0 || log[at - 1] == '\n') ++n;
        return n;
    }

    bool Start()
    {
        app = std::make_unique<CApplicationMain>();
        return app->StartUp();
    }
    static void Idle(int passes = 1)
    {
        for (int i = 0; i < passes; ++i) KPeriodical::DevoteTimeToIdlers();
    }
    // Lets `ticks` ticks pass, then one idle pass.
    static void After(uint32_t ticks)
    {
        KTestClock::Advance(ticks);
        Idle();
    }
    // Idle passes until a measurement under way has ended.
    void FinishMeasurement()
    {
        // The exchanges run on the event loop (the port's readiness and their time limits), so
        // events are served between the idle passes; a card that answers ends within seconds.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (CApplicationMain::GetAppStatus() == kAppMeasuring && std::chrono::steady_clock::now() < deadline) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            Idle();
        }
    }
    void ClearRecords()
    {
        window.statuses.clear();
        window.limits.clear();
    }
};
