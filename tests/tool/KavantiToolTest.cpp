// KavantiTool run as a process on sandboxes: the store file and the configuration reader show
// what it did.
#include "app/netconfig/USysConfig.h"
#include "platform/cf/PList.h"
#include "platform/paths/KPaths.h"
#include "support/FakeSysfs.h"
#include "support/ToolProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <sys/stat.h>

namespace {

const char* kScript = "/usr/share/kavanti/modem-scripts/SUNTAC Slipper";

// The nine arguments the application passes; `action` and the password vary.
std::vector<std::string> Args(const std::string& action, const std::string& password = "secret",
                              const std::string& proxy = "proxy.example", const std::string& port = "32080",
                              const std::string& account = "user@example", const std::string& number = "0570570711##61")
{
    return {action, "pccard-modem", "KVAUTODL", number, account, password, proxy, port, kScript};
}

// An existing store: "Home" (current) with an Ethernet service E1; "KVAUTODL" with E1, and C on
// the card's port (inactive, with a proxy and its own PPP options).
std::string ExistingStore(bool withCardService = true)
{
    const std::string card = withCardService ? R"(
 <key>C</key><dict><key>UserDefinedName</key><string>pccard-modem-port</string><key>__INACTIVE__</key><integer>1</integer>
  <key>Interface</key><dict><key>DeviceName</key><string>pccard-modem</string><key>Hardware</key><string>Modem</string>
   <key>Type</key><string>PPP</string><key>SubType</key><string>PPPSerial</string><key>UserDefinedName</key><string>pccard-modem-port</string></dict>
  <key>Modem</key><dict><key>ConnectionScript</key><string>old script</string><key>Speaker</key><integer>0</integer></dict>
  <key>PPP</key><dict><key>AuthName</key><string>old</string><key>AuthPassword</key><data>AG8AbABk</data>
   <key>CommRemoteAddress</key><string>111</string><key>DisconnectOnIdleTimer</key><integer>600</integer></dict>
  <key>Proxies</key><dict><key>HTTPEnable</key><integer>1</integer><key>HTTPProxy</key><string>old.proxy</string>
   <key>HTTPPort</key><integer>8080</integer><key>FTPEnable</key><integer>0</integer></dict></dict>)"
                                             : "";
    const std::string cardLink = withCardService ? "<key>C</key><dict><key>__LINK__</key><string>/NetworkServices/C</string></dict>" : "";
    const std::string cardOrder = withCardService ? "<string>C</string>" : "";
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>CurrentSet</key><string>/Sets/H</string>
<key>Sets</key><dict>
 <key>H</key><dict><key>UserDefinedName</key><string>Home</string><key>Network</key><dict>
  <key>Global</key><dict><key>IPv4</key><dict><key>ServiceOrder</key><array><string>E1</string></array></dict></dict>
  <key>Service</key><dict><key>E1</key><dict><key>__LINK__</key><string>/NetworkServices/E1</string></dict></dict></dict></dict>
 <key>K</key><dict><key>UserDefinedName</key><string>KVAUTODL</string><key>Network</key><dict>
  <key>Global</key><dict><key>IPv4</key><dict><key>PPPOverridePrimary</key><integer>0</integer><key>ServiceOrder</key><array><string>E1</string>)" +
           cardOrder + R"(</array></dict></dict>
  <key>Service</key><dict><key>E1</key><dict><key>__LINK__</key><string>/NetworkServices/E1</string></dict>)" + cardLink + R"(</dict></dict></dict>
</dict>
<key>NetworkServices</key><dict>
 <key>E1</key><dict><key>UserDefinedName</key><string>Built-in Ethernet</string>
  <key>Interface</key><dict><key>DeviceName</key><string>eth0</string></dict></dict>)" +
           card + R"(
</dict></dict></plist>
)";
}

class Tool : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = std::getenv("KAVANTI_RESOURCES");
        if (old) mOldResources = old, mHadResources = true;
        setenv("KAVANTI_RESOURCES", (root.Path() + "/resources").c_str(), 1);
        SandboxRoot::WriteFile(root.Path() + "/resources/modem-scripts/SUNTAC Slipper", "x");
        // The machine: a built-in Ethernet and the PC Card.
        sys.Device("pci0000:00/0000:00:19.0", "pci");
        sys.Net("eth0", "pci0000:00/0000:00:19.0", "00:1b:21:aa:bb:cc");
        sys.Device("pci0000:00/0000:00:1e.0/pcmcia_socket0/0.0", "pcmcia");
        sys.Tty("ttyS4", "pci0000:00/0000:00:1e.0/pcmcia_socket0/0.0");
    }
    void TearDown() override
    {
        if (mHadResources) setenv("KAVANTI_RESOURCES", mOldResources.c_str(), 1);
        else unsetenv("KAVANTI_RESOURCES");
    }

    ProcessResult Run(const std::vector<std::string>& args, const std::string& input = "")
    {
        return RunProcess(ToolPath(), args, input);
    }
    void Write(const std::string& xml) { SandboxRoot::WriteFile(KPaths::StorePath(), xml); }
    std::string Bytes()
    {
        std::string b;
        ReadWholeFile(KPaths::StorePath(), b);
        return b;
    }
    PRef<PDictionary> Store()
    {
        PRef<PValue> v;
        if (PListReadFile(KPaths::StorePath(), false, v) != PListReadResult::Ok) return {};
        return PRefCast<PDictionary>(v);
    }
    std::string CurrentName()
    {
        char name[255] = "";
        return USysConfig::GetCurrentSetName(name) ? name : "<none>";
    }
    SysConfigDataRec Setting()
    {
        SysConfigDataRec r;
        EXPECT_TRUE(USysConfig::GetCurrentSetting(card.get(), r));
        return r;
    }
    // The current location's service on the card's port, read directly.
    const PDictionary* CardService(const PRef<PDictionary>& store)
    {
        PRef<PDictionary> svc;
        if (!USysConfig::GetServiceDict(card.get(), svc)) return nullptr;
        const PDictionary* services = store->GetAs<PDictionary>("NetworkServices");
        for (const auto& [id, v] : services->Entries()) {
            const PDictionary* d = PValue::As<PDictionary>(v.get());
            const PDictionary* i = d ? d->GetAs<PDictionary>("Interface") : nullptr;
            if (i && i->GetAs<PString>("DeviceName") && i->GetAs<PString>("DeviceName")->UTF8() == "pccard-modem" &&
                d->Equals(*svc))
                return d;
        }
        return nullptr;
    }

    SandboxRoot root;
    FakeSysfs sys{root.Path()};
    PRef<PString> card = PStr("pccard-modem");
    std::string mOldResources;
    bool mHadResources = false;
};

TEST_F(Tool, NewLocationOnAFreshMachine)
{
    ASSERT_FALSE(fs::exists(KPaths::StorePath()));
    const auto r = Run(Args("-n"));
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.err.find("KavantiTool: MakeNewSetting()\n"), std::string::npos);

    EXPECT_EQ(CurrentName(), "KVAUTODL");
    EXPECT_EQ(USysConfig::GetActiveServiceCount(), 1);
    EXPECT_TRUE(USysConfig::ServiceIsActive(card.get()));
    const SysConfigDataRec s = Setting();
    EXPECT_STREQ(s.accessPoint.c_str(), "0570570711##61");
    EXPECT_STREQ(s.userName.c_str(), "user@example");
    EXPECT_STREQ(s.password.c_str(), "secret");
    EXPECT_STREQ(s.proxyServer.c_str(), "proxy.example");
    EXPECT_STREQ(s.proxyPort.c_str(), "32080");
    EXPECT_STREQ(s.cclFilePath.c_str(), kScript);

    auto store = Store();
    const PDictionary* svc = CardService(store);
    ASSERT_TRUE(svc);
    const PDictionary* ppp = svc->GetAs<PDictionary>("PPP");
    EXPECT_EQ(ppp->GetAs<PNumber>("LCPEchoEnabled")->Int64(), 0);
    EXPECT_EQ(ppp->GetAs<PNumber>("LCPEchoInterval")->Int64(), 10);
    EXPECT_EQ(ppp->GetAs<PData>("AuthPassword")->Length(), 12u);
    EXPECT_EQ(svc->GetAs<PDictionary>("Modem")->GetAs<PString>("DialMode")->UTF8(), "WaitForDialTone");
    // The Ethernet service of the new location is off.
    EXPECT_TRUE(USysConfig::FindDevice("KVAUTODL", "eth0"));
    EXPECT_EQ(store->GetAs<PDictionary>("Sets")->Count(), 1u);
}

TEST_F(Tool, NewWhenTheLocationExistsOnlySwitchesToIt)
{
    Write(ExistingStore());
    const auto r = Run(Args("-n", "other"));
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(CurrentName(), "KVAUTODL");
    auto store = Store();
    EXPECT_EQ(store->GetAs<PDictionary>("Sets")->Count(), 2u);
    EXPECT_EQ(store->GetAs<PDictionary>("NetworkServices")->Count(), 2u);
    // Nothing was edited: the old card settings are still there, inactive.
    EXPECT_STREQ(Setting().userName.c_str(), "old");
    EXPECT_FALSE(USysConfig::ServiceIsActive(card.get()));
}

TEST_F(Tool, UpdateEditsTheCardServiceAndSwitchesTheOthersOff)
{
    Write(ExistingStore());
    const auto r = Run(Args("-c", "secret", "NULL"));
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.err.find("KavantiTool: UpdateSetting()\n"), std::string::npos);
    EXPECT_EQ(r.err.find("NotFound"), std::string::npos);

    EXPECT_EQ(CurrentName(), "KVAUTODL");
    EXPECT_TRUE(USysConfig::ServiceIsActive(card.get())); // switched on
    EXPECT_EQ(USysConfig::GetActiveServiceCount(), 1);   // E1 switched off
    const SysConfigDataRec s = Setting();
    EXPECT_STREQ(s.userName.c_str(), "user@example");
    EXPECT_STREQ(s.password.c_str(), "secret");
    EXPECT_STREQ(s.accessPoint.c_str(), "0570570711##61");
    EXPECT_STREQ(s.proxyServer.c_str(), "NULL");
    EXPECT_STREQ(s.cclFilePath.c_str(), kScript);

    auto store = Store();
    const PDictionary* svc = CardService(store);
    ASSERT_TRUE(svc);
    const PDictionary* proxies = svc->GetAs<PDictionary>("Proxies");
    EXPECT_EQ(proxies->GetAs<PNumber>("HTTPEnable")->Int64(), 0);
    EXPECT_FALSE(proxies->Contains("HTTPProxy"));
    EXPECT_FALSE(proxies->Contains("HTTPPort"));
    EXPECT_TRUE(proxies->Contains("FTPEnable")); // other keys stay
    EXPECT_EQ(svc->GetAs<PDictionary>("PPP")->GetAs<PNumber>("DisconnectOnIdleTimer")->Int64(), 600);
    EXPECT_EQ(svc->GetAs<PDictionary>("Modem")->GetAs<PNumber>("Speaker")->Int64(), 0);
    // The other location shares E1, which is now off there too: one service, one state.
    EXPECT_TRUE(store->GetAs<PDictionary>("NetworkServices")->GetAs<PDictionary>("E1")->Contains("__INACTIVE__"));
}

TEST_F(Tool, UpdateProxyPort)
{
    struct Case {
        const char* arg;
        int64_t port; // -1: no "HTTPPort"
    } cases[] = {{"32080", 32080}, {"99999", 99999 & 0xFFFF}, {"65536", -1}, {"0", -1}, {"abc", -1}, {"-1", 65535}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arg);
        Write(ExistingStore());
        const auto r = Run(Args("-c", "secret", "proxy.example", c.arg));
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        auto store = Store();
        const PDictionary* proxies = CardService(store)->GetAs<PDictionary>("Proxies");
        EXPECT_EQ(proxies->GetAs<PNumber>("HTTPEnable")->Int64(), 1);
        EXPECT_EQ(proxies->GetAs<PString>("HTTPProxy")->UTF8(), "proxy.example");
        const PNumber* port = proxies->GetAs<PNumber>("HTTPPort");
        EXPECT_EQ(port ? port->Int64() : -1, c.port);
    }
}

TEST_F(Tool, UpdateWithoutACardServiceSwitchesEverythingOff)
{
    Write(ExistingStore(false));
    const auto r = Run(Args("-c"));
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.err.find("KavantiTool: UpdateSetting(NotFound)\n"), std::string::npos);
    EXPECT_EQ(CurrentName(), "KVAUTODL");
    EXPECT_EQ(USysConfig::GetActiveServiceCount(), 0);
}

TEST_F(Tool, AddGivesTheLocationACardServiceThenUpdates)
{
    Write(ExistingStore(false));
    const auto r = Run(Args("-a"));
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(CurrentName(), "KVAUTODL");
    EXPECT_TRUE(USysConfig::FindDevice("KVAUTODL", "pccard-modem"));
    EXPECT_TRUE(USysConfig::ServiceIsActive(card.get()));
    EXPECT_EQ(USysConfig::GetActiveServiceCount(), 1);
    const SysConfigDataRec s = Setting();
    EXPECT_STREQ(s.userName.c_str(), "user@example");
    EXPECT_STREQ(s.password.c_str(), "secret");
    EXPECT_STREQ(s.cclFilePath.c_str(), kScript);
    auto store = Store();
    EXPECT_EQ(CardService(store)->GetAs<PDictionary>("Interface")->GetAs<PString>("UserDefinedName")->UTF8(),
              "pccard-modem-port");

    // Run again: the service is there now and is not added twice.
    ASSERT_EQ(Run(Args("-a")).exitStatus, 0);
    EXPECT_EQ(Store()->GetAs<PDictionary>("NetworkServices")->Count(), 2u);
}

TEST_F(Tool, AddFailsWhenTheCardIsNotOnTheMachine)
{
    Write(ExistingStore(false));
    fs::remove(sys.Sys() / "class/tty/ttyS4");
    const std::string before = Bytes();
    const auto r = Run(Args("-a"));
    EXPECT_EQ(r.exitStatus, 256 - 43);
    EXPECT_EQ(Bytes(), before);
}

TEST_F(Tool, SwitchLocation)
{
    Write(ExistingStore());
    auto r = Run({"-s", "KVAUTODL"});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.err.find("KavantiTool: ChangeLocation()\n"), std::string::npos);
    EXPECT_EQ(CurrentName(), "KVAUTODL");

    const std::string before = Bytes();
    r = Run({"-s", "Nowhere"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(Bytes(), before);
}

TEST_F(Tool, UnknownActionAndMissingArgumentsChangeNothing)
{
    Write(ExistingStore());
    const std::string before = Bytes();
    auto r = Run(Args("-x"));
    EXPECT_EQ(r.exitStatus, 255);
    EXPECT_NE(r.err.find("KavantiTool: Command Error!!\n"), std::string::npos);
    EXPECT_NE(r.err.find("KavantiTool: unknown action '-x'"), std::string::npos) << r.err;
    EXPECT_EQ(Bytes(), before);

    std::vector<std::string> eight = Args("-n");
    eight.pop_back();
    const std::vector<std::vector<std::string>> tooFew = {{}, {"-s"}, eight, {"-c", "pccard-modem"}};
    for (const auto& args : tooFew) {
        r = Run(args);
        EXPECT_EQ(r.exitStatus, 206);
        // The debug line, then the usage line.
        EXPECT_EQ(r.err.rfind("KavantiTool: Parameter Error!!\nUsage: KavantiTool -n|-c|-a PORT LOCATION", 0), 0u) << r.err;
    }
    EXPECT_EQ(Bytes(), before);
}

TEST_F(Tool, ArgumentsAreUTF8Text)
{
    // Non-ASCII text is stored as given, by every action that writes it.
    ASSERT_EQ(Run({"-n", "pccard-modem", "Zuhause \xc3\xbc", "0570##61", "us\xc3\xa9r", "p\xc3\xa4ss",
                   "pr\xc3\xb8xy.example", "8080", kScript})
                  .exitStatus,
              0);
    EXPECT_EQ(CurrentName(), "Zuhause \xc3\xbc");

    Write(ExistingStore());
    const auto r = Run(Args("-c", "p\xc3\xa4ss", "pr\xc3\xb8xy.example", "8080", "us\xc3\xa9r"));
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    auto store = Store();
    const PDictionary* svc = CardService(store);
    ASSERT_TRUE(svc);
    const PDictionary* ppp = svc->GetAs<PDictionary>("PPP");
    EXPECT_EQ(ppp->GetAs<PString>("AuthName")->UTF8(), "us\xc3\xa9r");
    // The password's UTF-16 code units, most significant byte first.
    const std::vector<uint8_t> utf16 = {0, 'p', 0, 0xE4, 0, 's', 0, 's'};
    EXPECT_EQ(ppp->GetAs<PData>("AuthPassword")->Bytes(), utf16);
    const PDictionary* proxies = svc->GetAs<PDictionary>("Proxies");
    EXPECT_EQ(proxies->GetAs<PString>("HTTPProxy")->UTF8(), "pr\xc3\xb8xy.example");
    EXPECT_EQ(proxies->GetAs<PNumber>("HTTPPort")->Int64(), 8080);
}

TEST_F(Tool, ArgumentThatIsNotTextChangesNothingAndIsNamed)
{
    Write(ExistingStore());
    const std::string before = Bytes();
    struct Case {
        std::vector<std::string> args;
        std::string input;
        const char* message;
    };
    const Case cases[] = {
        {Args("-c", "p\xffw"), "", "argument 6 (PASSWORD) is not valid UTF-8"},
        {Args("-c", "secret", "proxy.example", "32080", "us\xe9r"), "", "argument 5 (ACCOUNT) is not valid UTF-8"},
        {Args("-c", "secret", "pro\xc3xy"), "", "argument 7 (PROXY) is not valid UTF-8"},
        {Args("-n", "se\ncret"), "", "argument 6 (PASSWORD) holds a control character"},
        {Args("-c", "secret", "proxy.example", "32080", "user", "0570\x01##61"), "", "argument 4 (NUMBER) holds a control character"},
        {Args("-c", "secret", "proxy\x7f"), "", "argument 7 (PROXY) holds a control character"},
        {Args("-c", "secret", "proxy\xc2\x85"), "", "argument 7 (PROXY) holds a control character"}, // U+0085
        {Args("-c", "\xc0\xafoverlong"), "", "argument 6 (PASSWORD) is not valid UTF-8"},
        {{"-s", "KV\x1b[2J"}, "", "argument 2 (LOCATION) holds a control character"},
        {Args("-c", "-"), "p\x01w\n", "the password on standard input (PASSWORD \"-\") holds a control character"},
        {Args("-c", "-"), "p\xffw\n", "the password on standard input (PASSWORD \"-\") is not valid UTF-8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const auto r = Run(c.args, c.input);
        EXPECT_EQ(r.exitStatus, 206);
        EXPECT_NE(r.err.find(std::string("KavantiTool: ") + c.message), std::string::npos) << r.err;
        EXPECT_EQ(Bytes(), before);
        EXPECT_EQ(r.err.find("secret"), std::string::npos) << "argument values are not echoed";
    }
}

TEST_F(Tool, EveryFailureIsExplainedInOneLineNamingTheFile)
{
    // Keeps its debug line and exit status; adds the plain line with what and which file.
    struct Case {
        const char* name;
        std::function<void()> make;
        std::vector<std::string> args;
        int exitStatus;
        std::string reason;
        std::string file;
    };
    const std::string store = KPaths::StorePath();
    const std::string lock = KPaths::StoreLockPath();
    const Case cases[] = {
        {"corrupt store", [&] { Write("this is not a property list"); }, Args("-c"), 240, "corrupt", store},
        {"folder in the store's place", [&] { fs::create_directories(store); }, Args("-n"), 235, "cannot be read", store},
        {"FIFO in the store's place", [&] { fs::create_directories(fs::path(store).parent_path()); ASSERT_EQ(mkfifo(store.c_str(), 0600), 0); },
         {"-s", "KVAUTODL"}, 242, "not a regular file", store},
        {"folder in the lock's place", [&] { Write(ExistingStore()); fs::create_directories(lock); }, Args("-c"), 238, "lock", lock},
        {"card not on the machine", [&] { Write(ExistingStore(false)); fs::remove_all(root.Path() + "/sys/class/tty/ttyS4"); },
         {"-a", "pccard-modem2", "KVAUTODL", "1", "u", "p", "NULL", "0", kScript}, 213, "is not on this machine", store},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(store);
        fs::remove_all(lock);
        c.make();
        const auto r = Run(c.args);
        EXPECT_EQ(r.exitStatus, c.exitStatus) << r.err;
        const size_t line = r.err.find("failed: ");
        ASSERT_NE(line, std::string::npos) << r.err;
        const std::string message = r.err.substr(r.err.rfind('\n', line) + 1);
        EXPECT_NE(message.find(c.reason), std::string::npos) << message;
        EXPECT_NE(message.find(c.file), std::string::npos) << message;
        EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
        fs::remove_all(store);
        fs::remove_all(lock);
    }
}

TEST_F(Tool, PasswordOnStandardInput)
{
    struct Case {
        const char* input;
        const char* stored;
    } cases[] = {{"s3cr3t\nignored\n", "s3cr3t"}, {"cr\rignored\n", "cr"}, {"no newline", "no newline"}, {"", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        Write(ExistingStore());
        const auto r = Run(Args("-c", "-"), c.input);
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(r.out, "ready\n"); // the caller's cue to hand the password over
        EXPECT_STREQ(Setting().password.c_str(), c.stored);
    }
}

TEST_F(Tool, CorruptStoreIsLeftAlone)
{
    Write("this is not a property list");
    const std::string before = Bytes();
    for (const char* action : {"-n", "-c", "-s"}) {
        const auto r = action == std::string("-s") ? Run({"-s", "KVAUTODL"}) : Run(Args(action));
        EXPECT_NE(r.exitStatus, 0) << action;
        EXPECT_EQ(Bytes(), before);
    }
}

TEST_F(Tool, ConcurrentUpdatesOnOneStore)
{
    Write(ExistingStore());
    constexpr int kRuns = 10;
    std::vector<RunningProcess> running;
    for (int i = 0; i < kRuns; ++i) {
        const std::string n = std::to_string(i);
        running.push_back(StartProcess(ToolPath(), Args("-c", "pw" + n, "proxy" + n, "3208" + n, "user" + n, "num" + n), ""));
    }
    for (auto& p : running) {
        const auto r = FinishProcess(p);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
    }
    auto store = Store();
    ASSERT_TRUE(store); // parses
    EXPECT_EQ(store->GetAs<PDictionary>("Sets")->Count(), 2u);
    EXPECT_EQ(store->GetAs<PDictionary>("NetworkServices")->Count(), 2u);
    EXPECT_EQ(CurrentName(), "KVAUTODL");
    // The card service holds one run's settings, whole.
    const SysConfigDataRec s = Setting();
    const std::string user = s.userName.c_str();
    ASSERT_EQ(user.rfind("user", 0), 0u);
    const std::string n = user.substr(4);
    EXPECT_EQ(std::string(s.password.c_str()), "pw" + n);
    EXPECT_EQ(std::string(s.accessPoint.c_str()), "num" + n);
    EXPECT_EQ(std::string(s.proxyServer.c_str()), "proxy" + n);
    EXPECT_EQ(std::string(s.proxyPort.c_str()), "3208" + n);
    EXPECT_TRUE(USysConfig::ServiceIsActive(card.get()));
    EXPECT_TRUE(USysConfig::FindLocation("Home"));
}

TEST_F(Tool, CommittingWritesThePeerFileForTheCard)
{
    ASSERT_EQ(Run(Args("-n")).exitStatus, 0);
    std::string peer;
    ASSERT_EQ(ReadWholeFile(KPaths::PeerFilePath(), peer), 0);
    EXPECT_NE(peer.find(root.Path() + "/dev/ttyS4"), std::string::npos) << peer;
    EXPECT_NE(peer.find("SUNTAC Slipper"), std::string::npos) << peer;
    EXPECT_EQ(peer.find("secret"), std::string::npos) << "the password never goes into the peer file";
}

TEST_F(Tool, Help)
{
    const auto r = Run({"--help"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_NE(r.out.find("Usage: KavantiTool"), std::string::npos);
}

} // namespace
