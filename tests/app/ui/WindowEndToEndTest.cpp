// The real window on the real application object, offscreen: kavanti-cardsim on a
// pseudo-terminal behind a fake sysfs, kavanti-pppsim as pppd, the real KavantiTool through a
// sudo stand-in, kavanti-servicesim for the remaining time. Connect and Disconnect are pressed
// as a person would; the preferences file is read back after quitting.
#include "UiFixture.h"

#include "app/core/CApplicationMain.h"
#include "app/netconfig/CAuthPrompt.h"
#include "app/ui/CCoreUiHost.h"
#include "app/ui/CDialupView.h"
#include "app/ui/CUiFactory.h"
#include "platform/cf/PList.h"
#include "platform/paths/KPaths.h"
#include "platform/shell/KPeriodical.h"
#include "support/FakeSysfs.h"
#include "support/ServiceSim.h"
#include "support/SimProcess.h"

#include <QLabel>
#include <QPushButton>

#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

const char* kNumber = "07012345678";
const char* kUser = "kavanti@example.jp";
const char* kPassword = "Pw-7g2Kq";

const char* kStore = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>CurrentSet</key><string>/Sets/H</string>
<key>Sets</key><dict><key>H</key><dict><key>UserDefinedName</key><string>Home</string><key>Network</key><dict>
 <key>Global</key><dict><key>IPv4</key><dict><key>ServiceOrder</key><array/></dict></dict>
 <key>Service</key><dict/></dict></dict></dict>
<key>NetworkServices</key><dict/></dict></plist>
)";

class LoginPrompt : public CAuthPrompt {
public:
    bool AskCredentials(std::string& userName, std::string& password) override
    {
        const passwd* pw = getpwuid(geteuid());
        userName = pw ? pw->pw_name : "root";
        password = "admin-pw";
        return true;
    }
};

// Records the status message each time the panel shows a new one (it hides and shows it).
class MessageLog : public QObject {
public:
    std::vector<QString> shown;
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == QEvent::Show)
            if (auto* l = qobject_cast<QLabel*>(o)) shown.push_back(l->text());
        return false;
    }
};

class WindowEndToEnd : public ::testing::Test {
protected:
    SandboxRoot root;
    FakeSysfs sysfs{root.Path()};
    std::string device = KPaths::DevicePath("ttyS1");
    std::string resources = root.Path() + "/resources";
    std::string sudo = root.Path() + "/sudo-standin";
    ScopedEnv resourcesEnv{"KAVANTI_RESOURCES", resources};
    ScopedEnv pppdEnv{"KAVANTI_PPPD", StageBin("kavanti-pppsim")};
    ScopedEnv sudoEnv{"KAVANTI_SUDO", sudo};
    std::unique_ptr<ServiceSim> service;
    CCoreUiHost host;
    CUiFactory factory{&host};
    LoginPrompt prompt;
    pid_t card = -1;

    void SetUp() override
    {
        UiApp();
        const std::string shipped = std::string(std::getenv("KAVANTI_STAGE")) + "/share/kavanti";
        std::filesystem::create_directories(root.Path() + "/dev");
        std::filesystem::copy(shipped, resources, std::filesystem::copy_options::recursive);
        // The broker drops the administrator's password line and runs what follows "--".
        WriteFileText(sudo, "#!/bin/sh\nread -r _\nwhile [ $# -gt 0 ] && [ \"$1\" != \"--\" ]; do shift; done\n"
                            "[ $# -gt 0 ] || exit 0\nshift\nexec \"$@\"\n");
        chmod(sudo.c_str(), 0755);
        sysfs.Device("pcmcia0/0.0", "pcmcia");
        sysfs.Tty("ttyS1", "pcmcia0/0.0");
        WriteFileText(KPaths::StorePath(), kStore);
        service = std::make_unique<ServiceSim>(std::vector<std::string>{"--number", std::string(kNumber) + "=125"});

        std::string defaults = ReadFileText(resources + "/DefaultPref.plist");
        auto set = [&](const std::string& key, const std::string& value) {
            const size_t at = defaults.find("<key>" + key + "</key>");
            const size_t from = defaults.find('<', at + key.size() + 11);
            const size_t to = defaults.find('\n', from);
            defaults.replace(from, to - from, value);
        };
        set("UserName", std::string("<string>") + kUser + "</string>");
        set("LimitTimeURL", "<string>" + service->Base() + "</string>");
        set("Proxy", "<integer>1</integer>");
        set("Password", "<data>AFAAdwAtADcAZwAyAEsAcQ==</data>");
        WriteFileText(resources + "/DefaultPref.plist", defaults);

        std::vector<std::string> args = {StageBin("kavanti-cardsim"), "--link", device, "--number", kNumber,
                                         "--user", kUser, "--password", kPassword, "--connect-delay", "20"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        ASSERT_EQ(posix_spawn(&card, argv[0], &fa, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&fa);
        for (int i = 0; i < 100 && !std::filesystem::exists(device); ++i) QTest::qWait(50);
        ASSERT_TRUE(std::filesystem::exists(device)) << "the card simulator did not start";
        RegisterWindowFactory(&factory);
        RegisterAuthPrompt(&prompt);
    }
    void TearDown() override
    {
        RegisterAuthPrompt(nullptr);
        RegisterWindowFactory(nullptr);
        if (card > 0) {
            kill(card, SIGTERM);
            waitpid(card, nullptr, 0);
        }
    }
    // Turns the event loop and the idle tasks, as the application's loop does, until `done`.
    static bool Run(const std::function<bool()>& done, double seconds = 30)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!done()) {
            if (std::chrono::steady_clock::now() >= end) return false;
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            KPeriodical::DevoteTimeToIdlers();
            QTest::qWait(5);
        }
        return true;
    }
};

TEST_F(WindowEndToEnd, ConnectShowsEveryStepThenDisconnectAndQuitSaveTheWindow)
{
    auto app = std::make_unique<CApplicationMain>();
    ASSERT_TRUE(app->StartUp());
    CMainWindow* window = factory.MainWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(window->isVisible());
    auto* message = UPanes::Find<QLabel>(window, 1131);
    MessageLog log;
    message->installEventFilter(&log);

    auto* connectB = UPanes::Find<QPushButton>(window, 1102);
    ASSERT_TRUE(connectB->isEnabled()) << message->text().toStdString();
    QTest::mouseClick(connectB, Qt::LeftButton);
    ASSERT_TRUE(Run([&] { return CApplicationMain::GetAppStatus() == 2 &&
                                 !UPanes::Find<QLabel>(window, 1152)->text().isEmpty(); }))
        << message->text().toStdString();

    std::vector<QString> expected;
    for (int entry : {2, 4, 3, 5}) expected.push_back(UPanes::GetIndString(1100, entry));
    std::vector<QString> steps;
    for (const QString& s : log.shown)
        if (steps.empty() || steps.back() != s) steps.push_back(s);
    EXPECT_EQ(steps, expected);
    EXPECT_EQ(UPanes::GetPicture(UPanes::FindWidget(window, 1005)), 1003);
    EXPECT_EQ(UPanes::Find<QLabel>(window, 1152)->text(), "02:05");
    EXPECT_TRUE(UPanes::Find<QPushButton>(window, 1101)->isEnabled());

    QTest::mouseClick(UPanes::Find<QPushButton>(window, 1101), Qt::LeftButton);
    ASSERT_TRUE(Run([&] { return CApplicationMain::GetAppStatus() == 0 && connectB->isEnabled(); }));
    EXPECT_EQ(message->text(), UPanes::GetIndString(1100, 1));
    EXPECT_EQ(UPanes::GetPicture(UPanes::FindWidget(window, 1005)), 1001);

    window->move(140, 90);
    factory.DestroyWindows();
    CApplicationMain::GetPPPControl()->ClosePort();
    app.reset();

    PRef<PValue> read;
    ASSERT_EQ(PListReadFile(KPaths::PreferencesFile(), false, read), PListReadResult::Ok);
    auto prefs = PRefCast<PDictionary>(read);
    ASSERT_TRUE(prefs);
    auto number = [&](const char* key) {
        auto n = PRefCast<PNumber>(prefs->GetRef(key));
        return n ? n->Int64() : -1;
    };
    EXPECT_EQ(number("WindowLeft"), 140);
    EXPECT_EQ(number("WindowTop"), 90);
    auto limit = PRefCast<PString>(prefs->GetRef("LimitTime"));
    ASSERT_TRUE(limit);
    EXPECT_EQ(limit->UTF8(), "02:05");
}

} // namespace
