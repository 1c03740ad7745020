#include "app/ppp/CPPPControl.h"
#include "platform/ppp/KPPPPppd.h"
#include "platform/ppp/pppd-plugin/KavantiEventLine.h"
#include "platform/paths/KPaths.h"
#include "support/FakeSysfs.h"
#include "support/QtLoop.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace KPPP;

// ---- the plugin's line format, as the backend parses it -----------------------------------

struct LineCase {
    const char* name;
    int hasValue;
    int value;
    const char* text;
    EventLine::Kind kind;
};

TEST(EventLines, PluginFormatParsesBack)
{
    const LineCase cases[] = {
        {KV_EVENT_PHASE, 1, 2, "phase 2\n", EventLine::kPhase},
        {KV_EVENT_PHASE, 1, 12, "phase 12\n", EventLine::kPhase},
        {KV_EVENT_AUTH_UP, 0, 0, "auth-up\n", EventLine::kAuthUp},
        {KV_EVENT_IP_UP, 0, 0, "ip-up\n", EventLine::kIPUp},
        {KV_EVENT_LINK_DOWN, 0, 0, "link-down\n", EventLine::kLinkDown},
        {KV_EVENT_EXIT, 1, 16, "exit 16\n", EventLine::kExit},
        {KV_EVENT_EXIT, 1, -1, "exit -1\n", EventLine::kExit},
    };
    for (const LineCase& c : cases) {
        char buf[KV_EVENT_LINE_MAX];
        const int n = kv_event_format(buf, sizeof buf, c.name, c.hasValue, c.value);
        ASSERT_EQ(n, static_cast<int>(strlen(c.text))) << c.text;
        EXPECT_STREQ(buf, c.text);
        EventLine line;
        ASSERT_TRUE(ParseEventLine(std::string_view(buf, n - 1), line)) << c.text;
        EXPECT_EQ(line.kind, c.kind) << c.text;
        EXPECT_EQ(line.value, c.hasValue ? c.value : 0) << c.text;
    }
}

TEST(EventLines, FormatRefusesWhatWouldBreakTheProtocol)
{
    char buf[KV_EVENT_LINE_MAX];
    EXPECT_EQ(kv_event_format(buf, sizeof buf, "", 0, 0), -1);
    EXPECT_EQ(kv_event_format(buf, sizeof buf, "two words", 0, 0), -1);
    EXPECT_EQ(kv_event_format(buf, sizeof buf, "line\nbreak", 0, 0), -1);
    EXPECT_EQ(kv_event_format(buf, 8, "phase", 1, 123456), -1) << "cut lines are never written";
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(kv_event_format(nullptr, 8, "phase", 0, 0), -1);
}

TEST(EventLines, ParserRefusesOtherLines)
{
    for (const char* bad : {"", "phase", "phase x", "phase 2 3", "phase 2x", "ip-up 1", "hello", "exit", "PHASE 2", " phase 2"}) {
        EventLine line;
        EXPECT_FALSE(ParseEventLine(bad, line)) << '"' << bad << '"';
    }
    EventLine line;
    EXPECT_TRUE(ParseEventLine("ip-up\r", line)) << "a carriage return is tolerated";
}

// ---- translation into the endpoint's events -------------------------------------------------

namespace {
struct Step {
    std::string line; // a plugin line, or "EXIT n" / "EXIT n hangup" for the end of the program
    std::vector<Event> events;
};

Event E(uint32_t code, uint32_t cookie = 0) { return {code, 0, cookie}; }

void RunSteps(const char* what, const std::vector<Step>& steps)
{
    PppdTranslator t;
    for (const Step& s : steps) {
        std::vector<Event> got;
        if (s.line.rfind("EXIT ", 0) == 0) {
            const int status = std::stoi(s.line.substr(5));
            got = t.OnExit(status, s.line.find("hangup") != std::string::npos);
        } else {
            EventLine line;
            ASSERT_TRUE(ParseEventLine(s.line, line)) << what << ": " << s.line;
            got = t.OnLine(line);
        }
        EXPECT_EQ(got, s.events) << what << " at \"" << s.line << '"';
    }
}
} // namespace

TEST(Translator, Table)
{
    RunSteps("dial, connect, hang-up asked for",
             {{"phase 1", {}},
              {"phase 2", {}},
              {"phase 4", {E(kEventModemInitFinished)}},
              {"phase 5", {E(kEventAuthStarted)}},
              {"phase 7", {E(kEventAuthFinished), E(kEventConnectComplete)}},
              {"phase 8", {}},
              {"ip-up", {E(kEventIPCPUp)}},
              {"phase 9", {E(kEventDisconnectComplete)}},
              {"link-down", {}},
              {"phase 10", {}},
              {"exit 5", {}},
              {"EXIT 5 hangup", {E(kEventLCPDown, 0)}}});
    RunSteps("peer authenticated us (auth-up) before the network phase",
             {{"phase 2", {}},
              {"phase 4", {E(kEventModemInitFinished)}},
              {"auth-up", {E(kEventAuthFinished), E(kEventConnectComplete)}},
              {"phase 7", {}}});
    RunSteps("no authentication asked for",
             {{"phase 2", {}}, {"phase 4", {E(kEventModemInitFinished)}}, {"phase 7", {E(kEventAuthFinished), E(kEventConnectComplete)}}});
    RunSteps("connect script failed",
             {{"phase 2", {}}, {"phase 10", {}}, {"phase 0", {}}, {"EXIT 8", {E(kEventConnectComplete, 8)}}});
    RunSteps("authentication refused",
             {{"phase 2", {}},
              {"phase 4", {E(kEventModemInitFinished)}},
              {"phase 5", {E(kEventAuthStarted)}},
              {"phase 9", {}},
              {"EXIT 19", {E(kEventConnectComplete, 19)}}});
    RunSteps("card hangs up on a running link",
             {{"phase 2", {}},
              {"phase 4", {E(kEventModemInitFinished)}},
              {"phase 7", {E(kEventAuthFinished), E(kEventConnectComplete)}},
              {"ip-up", {E(kEventIPCPUp)}},
              {"link-down", {E(kEventDisconnectComplete)}},
              {"phase 4", {}},
              {"phase 10", {}},
              {"EXIT 16", {E(kEventLCPDown, 16)}}});
    RunSteps("ended with 0 before connecting still fails", {{"phase 2", {}}, {"EXIT 0", {E(kEventConnectComplete, 1)}}});
    RunSteps("ip-up before connect complete is not passed on", {{"ip-up", {}}});
}

TEST(Translator, ExitStatusFromWaitStatus)
{
    EXPECT_EQ(PppdExitStatus(8 << 8, false), 8);
    EXPECT_EQ(PppdExitStatus(SIGKILL, true), kPppdExitUserRequest);
    EXPECT_EQ(PppdExitStatus(SIGSEGV, false), kPppdExitFatal);
}

// ---- the argument list -------------------------------------------------------------------

TEST(ExitStatus, InWords)
{
    const std::pair<int, const char*> cases[] = {
        {0, "the link ended normally"}, {8, "the dialling script failed"}, {16, "the modem hung up"},
        {19, "authentication failed"},  {20, "pppd ended with status 20"},  {-1, "pppd ended with status -1"},
    };
    for (const auto& [status, text] : cases)
        EXPECT_EQ(ExitStatusText(status), text) << status;
    for (int status = 0; status <= 19; ++status)
        EXPECT_EQ(ExitStatusText(status).find("pppd ended with status"), std::string::npos) << status << " has words";
}

TEST(Arguments, OnlyUnprivilegedOptionsAndNeverThePassword)
{
    PppdDialSettings s{true, "0570570711##64", "user@isp"};
    EXPECT_EQ(PppdArguments("/usr/sbin/pppd", s),
              (std::vector<std::string>{"/usr/sbin/pppd", "call", "kavanti", "nodetach", "user", "user@isp", "set",
                                        "KAVANTI_NUMBER=0570570711##64", "passwordfd", "3", "kavanti-events-fd", "4"}));
    PppdDialSettings none{false, "", ""};
    EXPECT_EQ(PppdArguments("pppd", none),
              (std::vector<std::string>{"pppd", "call", "kavanti", "nodetach", "kavanti-events-fd", "4"}))
        << "an empty access point leaves the peer file's number and account";
}

// ---- the backend with a real process in pppd's place -----------------------------------------

namespace {

// Stands in for pppd: records its arguments and the password it reads, then plays the lines
// of $FAKE_PPPD_MODE on descriptor 4.
const char* kFakePppd = R"(#!/bin/bash
out="$FAKE_PPPD_DIR"
printf '%s\n' "$@" > "$out/args.tmp" && mv "$out/args.tmp" "$out/args"
if [ -e /proc/self/fd/3 ] && [ "$FAKE_PPPD_MODE" != nopassword ]; then cat <&3 > "$out/password"; fi
echo $$ > "$out/pid"
ev() { echo "$1" >&4; }
case "$FAKE_PPPD_MODE" in
  connect|ignoreterm)
    [ "$FAKE_PPPD_MODE" = ignoreterm ] && trap '' TERM || trap 'ev "phase 9"; ev "link-down"; ev "exit 5"; exit 5' TERM
    ev "phase 1"; ev "phase 2"; ev "phase 4"; ev "phase 5"; ev "phase 7"; ev "phase 8"; ev "ip-up"
    touch "$out/up"
    while :; do sleep 0.02; done ;;
  chatfail)
    ev "phase 2"; ev "phase 10"; ev "exit 8"; exit 8 ;;
  *)
    exit 1 ;;
esac
)";

struct Sink : CDialupStatusSink {
    std::vector<short> statuses;
    std::vector<long> errors;
    void SetDialupStatus(short status, long error) override
    {
        statuses.push_back(status);
        errors.push_back(error);
    }
};

class BackendTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string fake = dir / "fake-pppd";
    ScopedEnv program{"KAVANTI_PPPD", fake};
    ScopedEnv outDir{"FAKE_PPPD_DIR", dir.path()};
    Sink sink;

    void SetUp() override
    {
        TestApp();
        WriteFileText(fake, kFakePppd);
        chmod(fake.c_str(), 0755);
        SetHangUpBoundMs(5000);
    }
    std::vector<std::string> Args() const
    {
        std::vector<std::string> out;
        std::istringstream in(ReadFileText(dir / "args"));
        for (std::string l; std::getline(in, l);)
            out.push_back(l);
        return out;
    }
    pid_t Pid() const { return std::stoi(ReadFileText(dir / "pid")); }
    bool Exists(const std::string& name) const { return std::filesystem::exists(dir / name); }
};

bool ProcessGone(pid_t pid)
{
    // Reaped, not merely a zombie.
    return !std::filesystem::exists("/proc/" + std::to_string(pid));
}

// Every process's command line, joined.
std::string AllCommandLines()
{
    std::string all;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::string cmd = ReadFileText(entry.path().string() + "/cmdline");
        for (char& c : cmd)
            if (c == 0)
                c = ' ';
        all += cmd + "\n";
    }
    return all;
}

} // namespace

TEST_F(BackendTest, DialConnectsAndHangUpEndsOnIdle)
{
    ScopedEnv mode("FAKE_PPPD_MODE", "connect");
    CPPPControl control(&sink);
    ASSERT_EQ(control.Connect("0570570711##64", "user@isp", "pw-Zq81x"), 0);
    ASSERT_TRUE(WaitFor([&] { return sink.statuses.size() >= 4; }));
    EXPECT_EQ(sink.statuses, (std::vector<short>{4, 6, 3, 2}));
    ASSERT_TRUE(WaitFor([&] { return Exists("up"); }));

    // The password travelled through the pipe, and nowhere else.
    EXPECT_EQ(ReadFileText(dir / "password"), "pw-Zq81x");
    const std::vector<std::string> args = Args();
    EXPECT_EQ(args, (std::vector<std::string>{"call", "kavanti", "nodetach", "user", "user@isp", "set",
                                              "KAVANTI_NUMBER=0570570711##64", "passwordfd", "3", "kavanti-events-fd", "4"}));
    EXPECT_EQ(AllCommandLines().find("pw-Zq81x"), std::string::npos);

    const pid_t pid = Pid();
    ASSERT_EQ(control.Disconnect(), 0);
    ASSERT_TRUE(WaitFor([&] { return sink.statuses.size() >= 6; }));
    EXPECT_EQ(sink.statuses, (std::vector<short>{4, 6, 3, 2, 7, 0}));
    EXPECT_EQ(sink.errors.back(), 0);
    EXPECT_EQ(CPPPControl::GetPPPStatus(), CPPPControl::kPPPIdle);
    EXPECT_TRUE(ProcessGone(pid));
}

TEST_F(BackendTest, EmptyAccessPointPassesNoAccount)
{
    ScopedEnv mode("FAKE_PPPD_MODE", "chatfail");
    CPPPControl control(&sink);
    ASSERT_EQ(control.Connect("", "user@isp", "pw"), 0);
    ASSERT_TRUE(WaitFor([&] { return !sink.statuses.empty(); }));
    EXPECT_EQ(Args(), (std::vector<std::string>{"call", "kavanti", "nodetach", "kavanti-events-fd", "4"}));
    EXPECT_FALSE(Exists("password"));
}

TEST_F(BackendTest, ConnectScriptFailureReportsNineWithTheExitStatus)
{
    ScopedEnv mode("FAKE_PPPD_MODE", "chatfail");
    CPPPControl control(&sink);
    ASSERT_EQ(control.Connect("0570", "u", "p"), 0);
    ASSERT_TRUE(WaitFor([&] { return !sink.statuses.empty(); }));
    WaitFor([] { return false; }, 0.2); // nothing more arrives
    EXPECT_EQ(sink.statuses, (std::vector<short>{9}));
    EXPECT_EQ(sink.errors, (std::vector<long>{8}));
    EXPECT_TRUE(ProcessGone(Pid()));
}

TEST_F(BackendTest, DialAgainFromInsideTheEventThatEndedTheLastDial)
{
    // The notifier closes the endpoint that is delivering the event (every dial reopens it).
    ScopedEnv mode("FAKE_PPPD_MODE", "chatfail");
    struct Redialler : CDialupStatusSink {
        CPPPControl* control = nullptr;
        std::vector<short> statuses;
        void SetDialupStatus(short status, long) override
        {
            statuses.push_back(status);
            if (statuses.size() == 1) {
                EXPECT_EQ(control->Connect(), 0);
            }
        }
    } redialler;
    CPPPControl control(&redialler);
    redialler.control = &control;
    ASSERT_EQ(control.Connect("0570", "u", "p"), 0);
    ASSERT_TRUE(WaitFor([&] { return redialler.statuses.size() >= 2; }));
    EXPECT_EQ(redialler.statuses, (std::vector<short>{9, 9}));
    EXPECT_EQ(ReadFileText(dir / "password"), "p") << "the kept values were used again";
}

TEST_F(BackendTest, AProgramThatCannotStartGivesOpenCompletedWithTheError)
{
    ScopedEnv missing("KAVANTI_PPPD", dir / "no-such-pppd");
    CPPPControl control(&sink);
    EXPECT_EQ(control.Connect("0570", "u", "p"), 0) << "the failure arrives as an event";
    ASSERT_TRUE(WaitFor([&] { return !sink.statuses.empty(); }));
    EXPECT_EQ(sink.statuses, (std::vector<short>{9}));
    EXPECT_EQ(sink.errors, (std::vector<long>{kStatusFileNotFound}));
}

TEST_F(BackendTest, HangUpKillsAProgramThatIgnoresSIGTERMAfterTheBound)
{
    ScopedEnv mode("FAKE_PPPD_MODE", "ignoreterm");
    SetHangUpBoundMs(300);
    CPPPControl control(&sink);
    ASSERT_EQ(control.Connect("0570", "u", "p"), 0);
    ASSERT_TRUE(WaitFor([&] { return Exists("up") && sink.statuses.size() >= 4; }));
    const pid_t pid = Pid();
    ASSERT_EQ(control.Disconnect(), 0);
    ASSERT_TRUE(WaitFor([&] { return sink.statuses.size() >= 5; }));
    EXPECT_EQ(sink.statuses.back(), 0) << "a hang-up that was asked for ends on idle";
    EXPECT_TRUE(ProcessGone(pid));
}

TEST_F(BackendTest, ANewDialEndsTheRunningProgramFirst)
{
    ScopedEnv mode("FAKE_PPPD_MODE", "connect");
    CPPPControl control(&sink);
    ASSERT_EQ(control.Connect("0570", "u", "p"), 0);
    ASSERT_TRUE(WaitFor([&] { return Exists("up"); }));
    const pid_t first = Pid();
    std::filesystem::remove(dir / "up");
    ASSERT_EQ(control.Connect("0570", "u", "p"), 0);
    EXPECT_TRUE(ProcessGone(first)) << "closing the endpoint reaps its program";
    ASSERT_TRUE(WaitFor([&] { return Exists("up"); }));
    EXPECT_NE(Pid(), first);
    control.ClosePort();
}

TEST_F(BackendTest, AProgramThatEndsBeforeReadingThePasswordIsAFailureNotOurDeath)
{
    // More than a pipe holds, so the write is still going on when the program ends without
    // reading: without care that is SIGPIPE for the whole application.
    ScopedEnv mode("FAKE_PPPD_MODE", "nopassword");
    struct sigaction old {};
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &dfl, &old); // as in a program that never thought of it

    Transport& transport = PppdTransport();
    ASSERT_EQ(transport.Init(), kStatusOK);
    OSStatus err = -1;
    Endpoint* endpoint = transport.OpenEndpoint(&err);
    ASSERT_NE(endpoint, nullptr);
    struct Seen {
        std::vector<uint32_t> codes;
        std::vector<uint32_t> cookies;
    } seen;
    endpoint->InstallNotifier(
        [](void* context, uint32_t code, int32_t, uint32_t cookie) {
            auto* s = static_cast<Seen*>(context);
            s->codes.push_back(code);
            s->cookies.push_back(cookie);
        },
        &seen);
    endpoint->SetProgressEvents(true);
    auto set = [&](uint32_t name, const std::string& value) {
        std::vector<uint8_t> buffer(kOptionHeaderSize + value.size() + 1, 0);
        OptionHeader header{uint32_t(buffer.size()), kOptionLevelPPP, name, 0};
        std::memcpy(buffer.data(), &header, sizeof header);
        std::memcpy(buffer.data() + kOptionHeaderSize, value.data(), value.size());
        OptionRequest request{uint32_t(buffer.size()), uint32_t(buffer.size()), buffer.data(), kOptionNegotiate};
        return endpoint->OptionManagement(request);
    };
    ASSERT_EQ(set(kOptionAccessPoint, "0570"), kStatusOK);
    ASSERT_EQ(set(kOptionPassword, std::string(512 * 1024, 'p')), kStatusOK);

    EXPECT_EQ(endpoint->Dial(), kStatusOK);
    ASSERT_TRUE(WaitFor([&] { return !seen.codes.empty(); }));
    EXPECT_EQ(seen.codes, (std::vector<uint32_t>{kEventConnectComplete}));
    EXPECT_EQ(seen.cookies, (std::vector<uint32_t>{1})) << "the program's own exit status";
    transport.Close();
    sigaction(SIGPIPE, &old, nullptr);
}

// ---- the plugin in the installed pppd ------------------------------------------------------

TEST(Plugin, TheInstalledPppdLoadsItAndTakesItsOption)
{
    // Only root may name a plugin on pppd's command line; the kernel here has no PPP, so an
    // accepted command line ends with exit status 4, a refused option with 2.
    if (getuid() != 0 || access("/usr/sbin/pppd", X_OK) != 0)
        GTEST_SKIP() << "needs root and /usr/sbin/pppd";
    std::string plugin;
    for (const auto& e : std::filesystem::directory_iterator(std::string(getenv("KAVANTI_STAGE")) + "/lib/pppd"))
        plugin = e.path().string() + "/kavanti-events.so";
    ASSERT_TRUE(std::filesystem::exists(plugin));
    TempDir dir;
    const std::string out = dir / "out";
    auto run = [&](const std::string& args) {
        const int rc = std::system(("/usr/sbin/pppd " + args + " nodetach noauth /dev/null 5>/dev/null >" + out + " 2>&1").c_str());
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    };
    EXPECT_EQ(run("plugin " + plugin + " kavanti-events-fd 5"), 4) << ReadFileText(out);
    EXPECT_NE(ReadFileText(out).find("kavanti-events.so loaded"), std::string::npos) << ReadFileText(out);
    EXPECT_EQ(run("kavanti-events-fd 5"), 2) << "without the plugin pppd does not know the option";
}

// ---- port discovery through the ports reader ------------------------------------------------

TEST(PortDiscovery, FindsTheCardAmongTheMachinesSerialPorts)
{
    SandboxRoot root;
    FakeSysfs sysfs(root.Path());
    sysfs.Tty("ttyS0", "platform/serial8250");
    CPPPControl control(nullptr);
    char port[CPPPControl::kPortNameSize] = {};
    char device[CPPPControl::kDeviceNameSize] = {};
    EXPECT_FALSE(control.GetPortName(port, device)) << "a plain serial port is not the card";

    sysfs.Device("usb1/1-1", "usb");
    sysfs.Attribute(sysfs.Sys() / "devices/usb1/1-1", "product", "Slipper");
    sysfs.Device("usb1/1-1/1-1:1.0", "usb");
    sysfs.Tty("ttyACM0", "usb1/1-1/1-1:1.0");
    sysfs.Device("pcmcia0/0.0", "pcmcia");
    sysfs.Tty("ttyS1", "pcmcia0/0.0");
    ASSERT_TRUE(control.GetPortName(port, device));
    EXPECT_EQ(std::string(port), KPaths::DevicePath("ttyACM0")) << "the first qualifying port in name order";
    EXPECT_STREQ(device, "usbmodemSlipper");
}
