// Time from the connect command (2100) to the start of the pppd stand-in's process, with the
// card answering through kavanti-cardsim and the configuration already right, on stores of
// 10 and 1000 locations. BM_CardNumber is the card's own part of it (the PHS number re-read,
// two AT exchanges), to be taken off the connect figure.
//   build-rel/stage/bench-bin/bench_connect
#include "app/core/CApplicationMain.h"
#include "app/core/CMainWindowIface.h"
#include "platform/cf/PList.h"
#include "platform/paths/KPaths.h"
#include "platform/ppp/KPPPPeerFile.h"
#include "support/FakeSysfs.h"
#include "support/TempDir.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

const char* kUser = "kavanti@example.jp";
const char* kPassword = "Pw-7g2Kq";
const char* kAccessPoint = "0570570711";

std::string Stage() { return KPaths::ExecutableDir() + "/.."; }

class Window : public CMainWindowIface {
public:
    short last = 0;
    void SetStatus(short code) override { last = code; }
    void SetLimitText(const char*, int32_t, short) override {}
    void SetCardInfo(const ModemInformation*) override {}
    void GetDialupSetting(Str255& ap, Str255& user, Str255& pw) override
    {
        ap.Assign(std::string(kAccessPoint) + "##64");
        user.Assign(kUser);
        pw.Assign(kPassword);
    }
    bool GetConfigSet(int32_t) override { return false; }
    void MovePosition() override {}
    void SavePosition() override {}
    void Show() override {}
};

class Factory : public CWindowFactory {
public:
    Window window;
    CMainWindowIface* CreateMainWindow(KCommander*) override { return &window; }
    void StopAlert(const std::string& t, const std::string& x) override { std::fprintf(stderr, "%s %s\n", t.c_str(), x.c_str()); }
    void ShowAboutBox() override {}
    void HideApplication() override {}
};

PRef<PDictionary> Dict(std::initializer_list<std::pair<const char*, PRef<PValue>>> entries)
{
    auto d = PDictionary::CreateMutable();
    for (const auto& [k, v] : entries) d->Set(k, v);
    return d;
}

// "KVAUTODL" current with only the card's service, configured as the preferences say, and
// `locations - 1` ordinary locations beside it.
void WriteStore(int locations, const std::string& script)
{
    std::vector<uint8_t> pw;
    for (const char* p = kPassword; *p; ++p) pw.push_back(0), pw.push_back(uint8_t(*p));
    auto services = PDictionary::CreateMutable();
    services->Set("E1", Dict({{"UserDefinedName", PStr("Built-in Ethernet")},
                              {"Interface", Dict({{"DeviceName", PStr("eth0")}, {"Hardware", PStr("Ethernet")}})}}));
    services->Set("C", Dict({{"UserDefinedName", PStr("pccard-modem")},
                             {"Interface", Dict({{"DeviceName", PStr("pccard-modem")}, {"Hardware", PStr("Modem")}})},
                             {"Modem", Dict({{"ConnectionScript", PStr(script)}})},
                             {"PPP", Dict({{"CommRemoteAddress", PStr(std::string(kAccessPoint) + "##64")},
                                           {"AuthName", PStr(kUser)},
                                           {"AuthPassword", PData::Create(pw)}})},
                             {"Proxies", Dict({{"HTTPEnable", PNum(1)},
                                               {"HTTPProxy", PStr("accel1.kavanti.example")},
                                               {"HTTPPort", PNum(32080)}})}}));
    auto sets = PDictionary::CreateMutable();
    auto set = [](const char* name, const char* service) {
        return Dict({{"UserDefinedName", PStr(name)},
                     {"Network", Dict({{"Global", Dict({{"IPv4", Dict({{"ServiceOrder", PArray::Create({PStr(service)})}})}})},
                                       {"Service", Dict({{service, Dict({{"__LINK__", PStr(std::string("/NetworkServices/") + service)}})}})}})}});
    };
    sets->Set("K", set("KVAUTODL", "C"));
    for (int i = 1; i < locations; ++i) sets->Set(("L" + std::to_string(i)).c_str(), set(("Place " + std::to_string(i)).c_str(), "E1"));
    auto tree = Dict({{"CurrentSet", PStr("/Sets/K")}, {"Sets", sets}, {"NetworkServices", services}});
    std::string xml;
    PListCreateXMLData(*tree, xml);
    WriteFileText(KPaths::StorePath(), xml);
    KPPP::ApplyPeerFile(*tree); // as the store's commit would have left it
}

void WritePrefs()
{
    std::vector<uint8_t> pw;
    for (const char* p = kPassword; *p; ++p) pw.push_back(0), pw.push_back(uint8_t(*p));
    std::vector<PRef<PValue>> options;
    for (int i = 0; i < 10; ++i) options.push_back(PBoolean::Create(false));
    auto d = Dict({{"AccessPoint", PStr(kAccessPoint)}, {"UserName", PStr(kUser)}, {"Password", PData::Create(pw)},
                   {"LinkMode", PNum(2)}, {"Proxy", PNum(1)}, {"ApplicationSetting", PArray::Create(options)},
                   {"CCLOption", PBoolean::Create(true)}, {"LimitTimeURL", PStr("http://127.0.0.1:9/")},
                   {"LimitTime", PStr("")}});
    std::string xml;
    PListCreateXMLData(*d, xml);
    WriteFileText(KPaths::PreferencesFile(), xml);
}

// One sandbox: card port, card simulator, pppd stand-in that exits as soon as it has started.
struct Sandbox {
    SandboxRoot root;
    FakeSysfs sysfs{root.Path()};
    pid_t card = -1;
    Factory factory;
    std::unique_ptr<CApplicationMain> app;

    explicit Sandbox(int locations)
    {
        setenv("KAVANTI_RESOURCES", (Stage() + "/share/kavanti").c_str(), 1);
        setenv("KAVANTI_PPPD", (Stage() + "/bin/kavanti-pppsim").c_str(), 1);
        setenv("KAVANTI_PPPSIM", "exit=1", 1);
        setenv("KAVANTI_SUDO", "/bin/false", 1); // the tool must not be needed
        // Were it needed after all, the refusal must not cost the desktop's keychain its item.
        setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kavanti-bench-bus", 1);
        sysfs.Device("pcmcia0/0.0", "pcmcia");
        sysfs.Tty("ttyS1", "pcmcia0/0.0");
        std::filesystem::create_directories(root.Path() + "/dev");
        std::string device = KPaths::DevicePath("ttyS1");
        std::vector<std::string> args = {Stage() + "/bin/kavanti-cardsim", "--link", device, "--delay", "0"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn(&card, argv[0], &fa, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        for (int i = 0; i < 500 && !std::filesystem::exists(device); ++i) usleep(10000);
        WriteStore(locations, Stage() + "/share/kavanti/modem-scripts/TKS KSR23C-J");
        WritePrefs();
        RegisterWindowFactory(&factory);
        app = std::make_unique<CApplicationMain>();
        if (!app->StartUp()) std::abort();
    }
    ~Sandbox()
    {
        CApplicationMain::GetPPPControl()->ClosePort();
        app.reset();
        RegisterWindowFactory(nullptr);
        kill(card, SIGTERM);
        waitpid(card, nullptr, 0);
    }
    // Until the stand-in has ended and its failure came back.
    void Settle()
    {
        for (int i = 0; i < 2000 && factory.window.last != 9; ++i)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        factory.window.last = 0;
    }
};

QCoreApplication& App()
{
    static int argc = 1;
    static char name[] = "bench_connect";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

void BM_Connect(benchmark::State& state)
{
    App();
    Sandbox box(int(state.range(0)));
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        box.app->ObeyCommand(kCmdConnect, nullptr); // returns once the stand-in's process has started
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        if (CApplicationMain::GetAppStatus() != kAppIdle) {
            state.SkipWithError("the connect did not dial (configuration not right?)");
            break;
        }
        box.Settle();
    }
}
BENCHMARK(BM_Connect)->Arg(10)->Arg(1000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

void BM_CardNumber(benchmark::State& state)
{
    App();
    Sandbox box(10);
    Str255 number;
    for (auto _ : state) CModemInfo::GetPHSNumberGrobal(number);
}
BENCHMARK(BM_CardNumber)->Unit(benchmark::kMillisecond)->Iterations(30);

} // namespace

BENCHMARK_MAIN();
