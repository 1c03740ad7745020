// Administrator rights and the tool run, end to end: a real gnome-keyring-daemon keeps the
// credentials, kavanti-sudosim stands in for sudo in a KAVANTI_ROOT sandbox, and the real
// KavantiTool writes the sandbox's store, which is read back.
#include "app/netconfig/CAuthPrompt.h"
#include "app/netconfig/CAuthTool.h"
#include "app/netconfig/CSysConfig.h"
#include "app/netconfig/FakeSysConfigHost.h"
#include "app/netconfig/USysConfig.h"
#include "platform/paths/KPaths.h"
#include "support/KeyringSession.h"
#include "support/SudoSandbox.h"
#include "support/ToolProcess.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fstream>
#include <thread>

namespace {

// The credentials dialog: answers as told and counts how often it was shown.
class ScriptedPrompt : public CAuthPrompt {
public:
    bool ok = true;
    std::string userName; // "" answers with the name the dialog was filled with
    std::string password = "admin-pw";
    int shown = 0;
    std::string filledWith;

    bool AskCredentials(std::string& user, std::string& pw) override
    {
        ++shown;
        filledWith = user;
        if (!ok) return false;
        if (!userName.empty()) user = userName;
        pw = password;
        return true;
    }
};

std::string Kept()
{
    const ProcessResult r = RunProcess("/usr/bin/secret-tool", {"lookup", "service", "Kavanti", "account", "Kavanti"});
    return r.exitStatus == 0 ? r.out : "<none>";
}

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
}

// A store with an ordinary location "Home" (current) with Ethernet; with `kvautodl`, also a
// "KVAUTODL" location whose only service is that Ethernet port.
std::string Store(bool kvautodl)
{
    const std::string k = kvautodl ? R"(
 <key>K</key><dict><key>UserDefinedName</key><string>KVAUTODL</string><key>Network</key><dict>
  <key>Global</key><dict><key>IPv4</key><dict><key>ServiceOrder</key><array><string>E1</string></array></dict></dict>
  <key>Service</key><dict><key>E1</key><dict><key>__LINK__</key><string>/NetworkServices/E1</string></dict></dict></dict></dict>)"
                                   : "";
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>CurrentSet</key><string>/Sets/H</string>
<key>Sets</key><dict>
 <key>H</key><dict><key>UserDefinedName</key><string>Home</string><key>Network</key><dict>
  <key>Global</key><dict><key>IPv4</key><dict><key>ServiceOrder</key><array><string>E1</string></array></dict></dict>
  <key>Service</key><dict><key>E1</key><dict><key>__LINK__</key><string>/NetworkServices/E1</string></dict></dict></dict></dict>)" +
           k + R"(
</dict>
<key>NetworkServices</key><dict>
 <key>E1</key><dict><key>UserDefinedName</key><string>Built-in Ethernet</string>
  <key>Interface</key><dict><key>DeviceName</key><string>eth0</string><key>Hardware</key><string>Ethernet</string>
   <key>Type</key><string>Ethernet</string></dict></dict>
</dict></dict></plist>
)";
}

class AuthTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        KAVANTI_REQUIRE_KEYRING();
        RunProcess("/usr/bin/secret-tool", {"clear", "service", "Kavanti", "account", "Kavanti"});
        // The machine: a built-in Ethernet and the PC Card.
        FakeSysfs sys(sandbox.Root());
        sys.Device("pci0000:00/0000:00:19.0", "pci");
        sys.Net("eth0", "pci0000:00/0000:00:19.0", "00:1b:21:aa:bb:cc");
        sys.Device("pci0000:00/0000:00:1e.0/pcmcia_socket0/0.0", "pcmcia");
        sys.Tty("ttyS4", "pci0000:00/0000:00:1e.0/pcmcia_socket0/0.0");
        SandboxRoot::WriteFile(KPaths::StorePath(), Store(false));
        CAuthTool::SetToolFolder(StagePath("libexec/kavanti"));
        RegisterAuthPrompt(&prompt);
        config.SetHost(&host);
    }
    void TearDown() override
    {
        RegisterAuthPrompt(nullptr);
        CAuthTool::SetToolFolder("");
    }

    SysConfigDataRec Current()
    {
        const PRef<PString> device = PStringCreateWithBytes(host.deviceName, PEncoding::ASCII);
        SysConfigDataRec r;
        EXPECT_TRUE(USysConfig::GetCurrentSetting(device.get(), r));
        return r;
    }
    std::string CurrentName()
    {
        char name[255] = "";
        return USysConfig::GetCurrentSetName(name) ? name : "<none>";
    }
    // A stand-in KavantiTool that writes its arguments and its password line to files.
    void UseRecordingTool()
    {
        sandbox.Script("stand-in/KavantiTool", "printf '%s\\n' \"$@\" > \"$KAVANTI_ROOT/args\"\necho ready\n"
                                               "IFS= read -r pw\nprintf '%s' \"$pw\" > \"$KAVANTI_ROOT/stdin\"\n");
        CAuthTool::SetToolFolder(sandbox.Root() + "/stand-in");
    }

    SudoSandbox sandbox;
    ScriptedPrompt prompt;
    FakeSysConfigHost host;
    CSysConfig config;
};

TEST_F(AuthTool, FirstUseAsksOnceThenTheKeychainAnswers)
{
    EXPECT_EQ(Kept(), "<none>");
    ASSERT_EQ(config.NetworkSetting(), 0);
    EXPECT_EQ(prompt.shown, 1);
    // The dialog comes filled with the login name: whose password sudo asks for.
    EXPECT_EQ(prompt.filledWith, KPrivilege::LoginName());
    EXPECT_EQ(Kept(), KPrivilege::LoginName() + "\tadmin-pw");

    // The store now holds what was asked for, the password included.
    EXPECT_EQ(CurrentName(), "KVAUTODL");
    SysConfigDataRec desired;
    config.CreateNSData(desired);
    SysConfigDataRec current = Current();
    EXPECT_TRUE(CSysConfig::CompareNSData(desired, current));
    EXPECT_STREQ(current.password.c_str(), "ppp-pw");
    EXPECT_STREQ(current.proxyServer.c_str(), "accel1.kavanti.example");

    // Later changes run without asking.
    host.SetPassword("new-ppp-pw");
    host.prefs.SetWebProxy(4);
    ASSERT_EQ(config.NetworkSetting(), 0);
    EXPECT_EQ(prompt.shown, 1);
    current = Current();
    EXPECT_STREQ(current.password.c_str(), "new-ppp-pw");
    // No proxy: the current record has no port while the desired one has "32080", so they differ.
    EXPECT_STREQ(current.proxyServer.c_str(), "NULL");
    EXPECT_STREQ(current.proxyPort.c_str(), "");
    config.CreateNSData(desired);
    EXPECT_FALSE(CSysConfig::CompareNSData(desired, current));
}

TEST_F(AuthTool, RefusedKeptCredentialsAreReplacedInTheSameCall)
{
    config.GetAuthTool().SetKeyChain(KPrivilege::LoginName().c_str(), "old-admin-pw");
    OSStatus status = 1;
    testing::internal::CaptureStderr();
    EXPECT_TRUE(config.Authorization(&status));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(prompt.shown, 1);
    EXPECT_EQ(Kept(), KPrivilege::LoginName() + "\tadmin-pw");

    // Kept credentials that work: no dialog.
    EXPECT_TRUE(config.Authorization(&status));
    EXPECT_EQ(prompt.shown, 1);
}

TEST_F(AuthTool, TypedCredentialsThatFailStoreNothing)
{
    struct Case {
        const char* name;
        std::string userName;
        std::string password;
    } cases[] = {
        {"wrong password", "", "wrong"},
        {"another user", "someone-else", "admin-pw"},
        {"password sudo cannot read", "", "admin-pw\nadmin-pw"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        prompt.shown = 0;
        prompt.userName = c.userName;
        prompt.password = c.password;
        OSStatus status = 0;
        testing::internal::CaptureStderr();
        EXPECT_FALSE(config.Authorization(&status));
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(status, kAuthorizationDenied);
        EXPECT_EQ(Kept(), "<none>");
        // One OK ends the dialog; the next call shows it again.
        EXPECT_EQ(prompt.shown, 1);
        EXPECT_FALSE(config.Authorization(&status));
        EXPECT_EQ(prompt.shown, 2);
    }
    // Nothing ran: the store is as it was.
    EXPECT_EQ(CurrentName(), "Home");
}

TEST_F(AuthTool, CancelLeavesTheKeychainAlone)
{
    prompt.ok = false;
    EXPECT_EQ(config.NetworkSetting(), kStatusUserCancelled);
    EXPECT_EQ(Kept(), "<none>");

    // Kept credentials refused, then Cancel: they are gone (they no longer work), nothing new kept.
    config.GetAuthTool().SetKeyChain(KPrivilege::LoginName().c_str(), "old-admin-pw");
    testing::internal::CaptureStderr();
    EXPECT_EQ(config.NetworkSetting(), kStatusUserCancelled);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(Kept(), "<none>");

    // No dialog registered behaves as Cancel.
    RegisterAuthPrompt(nullptr);
    OSStatus status = 0;
    EXPECT_FALSE(config.Authorization(&status));
    EXPECT_EQ(status, kStatusUserCancelled);
    EXPECT_EQ(CurrentName(), "Home");
}

TEST_F(AuthTool, SudoThatCannotStartKeepsTheCredentials)
{
    ASSERT_TRUE(config.Authorization(nullptr));
    setenv("KAVANTI_SUDO", (sandbox.Root() + "/no/sudo").c_str(), 1);
    OSStatus status = 0;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(config.Authorization(&status));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, kStatusFileNotFound);
    EXPECT_EQ(prompt.shown, 1); // not asked again: the credentials were not refused
    EXPECT_EQ(Kept(), KPrivilege::LoginName() + "\tadmin-pw");
}

TEST_F(AuthTool, WhatExecuteToolReturns)
{
    CAuthTool& tool = config.GetAuthTool();
    // The tool's own -50 (too few arguments) arrives as its low 8 bits.
    const char* const tooFew[] = {"-c", "pccard-modem", nullptr};
    testing::internal::CaptureStderr();
    EXPECT_EQ(tool.ExecuteTool(tooFew), 206);
    testing::internal::GetCapturedStderr();

    const char* const args[] = {"-s", "KVAUTODL", nullptr};
    CAuthTool::SetToolFolder(sandbox.Root() + "/empty");
    EXPECT_EQ(tool.ExecuteTool(args), -1);
    SandboxRoot::WriteFile(sandbox.Root() + "/empty/KavantiTool", "#!/bin/sh\nexit 0\n"); // not executable
    EXPECT_EQ(tool.ExecuteTool(args), -1);
    std::filesystem::create_directories(sandbox.Root() + "/folder/KavantiTool");
    CAuthTool::SetToolFolder(sandbox.Root() + "/folder");
    EXPECT_EQ(tool.ExecuteTool(args), -1);

    prompt.ok = false;
    RunProcess("/usr/bin/secret-tool", {"clear", "service", "Kavanti", "account", "Kavanti"});
    EXPECT_EQ(tool.ExecuteTool(args), kStatusUserCancelled); // authorization comes first
}

TEST_F(AuthTool, ActionAndArgumentsForTheStore)
{
    UseRecordingTool();
    struct Case {
        const char* name;
        std::string store;
        const char* device;
        const char* action;
    } cases[] = {
        {"no KVAUTODL", Store(false), "pccard-modem", "-n"},
        {"KVAUTODL without the card", Store(true), "pccard-modem", "-a"},
        {"KVAUTODL with the card", Store(true), "eth0", "-c"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SandboxRoot::WriteFile(KPaths::StorePath(), c.store);
        host.deviceName = c.device;
        ASSERT_EQ(config.NetworkSetting(), 0);
        SysConfigDataRec d;
        config.CreateNSData(d);
        // The password is never an argument: "-" says it comes on standard input.
        EXPECT_EQ(Slurp(sandbox.Root() + "/args"), std::string(c.action) + "\n" + c.device + "\nKVAUTODL\n" +
                                                       "0570570711##61\nuser@example\n-\naccel1.kavanti.example\n32080\n" +
                                                       d.cclFilePath.c_str() + "\n");
        EXPECT_EQ(Slurp(sandbox.Root() + "/stdin"), "ppp-pw");
    }
}

TEST_F(AuthTool, RealToolAddsTheCardToAnExistingLocation)
{
    SandboxRoot::WriteFile(KPaths::StorePath(), Store(true));
    ASSERT_EQ(config.NetworkSetting(), 0);
    EXPECT_EQ(CurrentName(), "KVAUTODL");
    SysConfigDataRec desired;
    config.CreateNSData(desired);
    EXPECT_TRUE(CSysConfig::CompareNSData(desired, Current()));
    EXPECT_EQ(USysConfig::GetActiveServiceCount(), 1);
}

// Every /proc/PID/cmdline and /proc/PID/environ holding `needle`.
std::vector<std::string> ProcFilesHolding(const std::vector<std::string>& needles)
{
    std::vector<std::string> found;
    DIR* proc = opendir("/proc");
    if (!proc) return {"/proc unreadable"};
    while (const dirent* e = readdir(proc)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        for (const char* file : {"cmdline", "environ"}) {
            const std::string path = std::string("/proc/") + e->d_name + "/" + file;
            const std::string bytes = Slurp(path);
            for (const auto& n : needles)
                if (bytes.find(n) != std::string::npos) found.push_back(path);
        }
    }
    closedir(proc);
    return found;
}

TEST_F(AuthTool, NoPasswordInAnyProcessArgumentsOrEnvironment)
{
    const std::string admin = "Adm1n-9f3c-secret", ppp = "Ppp-77d1-secret";
    sandbox.SetAdminPassword(admin);
    prompt.password = admin;
    host.SetPassword(ppp);
    // The real tool, held while it runs: it has asked for its password and has it, then waits.
    const std::string asked = sandbox.Root() + "/asked", go = sandbox.Root() + "/go";
    sandbox.Script("stand-in/KavantiTool",
                   "echo ready\nIFS= read -r pw\ntouch '" + asked + "'\n"
                   "n=0; while [ ! -e '" + go + "' ] && [ $n -lt 3000 ]; do sleep 0.02; n=$((n+1)); done\n"
                   "printf '%s\\n' \"$pw\" | exec '" + StagePath("libexec/kavanti/KavantiTool") + "' \"$@\"\n");
    CAuthTool::SetToolFolder(sandbox.Root() + "/stand-in");

    OSStatus status = 1;
    std::thread run([&] { status = config.NetworkSetting(); });
    for (int n = 0; n < 3000 && !std::filesystem::exists(asked); ++n) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const bool reached = std::filesystem::exists(asked);
    const std::vector<std::string> holding = ProcFilesHolding({admin, ppp});
    SandboxRoot::WriteFile(go, "");
    run.join();

    ASSERT_TRUE(reached);
    EXPECT_TRUE(holding.empty()) << holding.front();
    EXPECT_EQ(status, 0);
    EXPECT_STREQ(Current().password.c_str(), ppp.c_str());
}

} // namespace

KAVANTI_KEYRING_MAIN()
