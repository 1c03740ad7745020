// The PPP link end to end: the controller on the pppd backend, kavanti-pppsim in pppd's place,
// the real chat dialling kavanti-cardsim on a pseudo-terminal, the peer file written by the
// store's apply step.
#include "app/ppp/CPPPControl.h"
#include "app/ppp/CPPPRedial.h"
#include "platform/paths/KPaths.h"
#include "platform/ppp/KPPPPeerFile.h"
#include "platform/shell/KPeriodical.h"
#include "platform/shell/KTicks.h"
#include "support/FakeSysfs.h"
#include "support/QtLoop.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

const char* kPassword = "Pw-7g2Kq";
const char* kUser = "kavanti@example.jp";
const char* kNumber = "0570570711##64";

std::string Stage(const std::string& rel)
{
    const char* stage = std::getenv("KAVANTI_STAGE");
    return std::string(stage ? stage : "") + "/" + rel;
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& out = "/dev/null")
{
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int err = posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    return err == 0 ? pid : -1;
}

// Files below `folder` whose contents hold `secret`.
std::vector<std::string> FilesHolding(const std::string& folder, const std::string& secret)
{
    std::vector<std::string> found;
    std::error_code ec;
    if (!std::filesystem::exists(folder, ec))
        return found;
    for (auto it = std::filesystem::recursive_directory_iterator(folder, ec); it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        if (it->is_regular_file(ec) && ReadFileText(it->path()).find(secret) != std::string::npos)
            found.push_back(it->path());
    return found;
}

// Processes whose command line holds `secret` (this test's own process aside).
std::vector<std::string> CommandLinesHolding(const std::string& secret)
{
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos || name == std::to_string(getpid()))
            continue;
        std::string cmd = ReadFileText(entry.path().string() + "/cmdline");
        if (cmd.find(secret) != std::string::npos)
            found.push_back(name);
    }
    return found;
}

PRef<PDictionary> D(std::initializer_list<std::pair<const char*, PRef<PValue>>> entries)
{
    auto d = PDictionary::CreateMutable();
    for (const auto& [k, v] : entries)
        d->Set(k, v);
    return d;
}

struct Sink : CDialupStatusSink {
    std::vector<short> statuses;
    std::vector<long> errors;
    CPPPControl* control = nullptr;
    bool redial = false;
    std::vector<std::string> leaks; // where the password showed up, at any status
    void SetDialupStatus(short status, long error) override
    {
        for (const std::string& pid : CommandLinesHolding(kPassword))
            leaks.push_back("status " + std::to_string(status) + ": command line of process " + pid);
        statuses.push_back(status);
        errors.push_back(error);
        // As the application does with its redial option on.
        if (status == 9 && redial) {
            CPPPRedial* r = CPPPRedial::GetRedialProc();
            if (r && !r->IsIdeling())
                r->StartRedial(control, 300);
        }
    }
};

class EndToEnd : public ::testing::Test {
protected:
    SandboxRoot root;
    FakeSysfs sysfs{root.Path()};
    std::string device = KPaths::DevicePath("ttyS1");
    // The modem script the project ships for the default card.
    std::string script = std::string(std::getenv("KAVANTI_RESOURCES")) + "/modem-scripts/TKS KSR23C-J";
    ScopedEnv pppd{"KAVANTI_PPPD", Stage("bin/kavanti-pppsim")};
    ScopedEnv sim{"KAVANTI_PPPSIM", "delay=10"};
    pid_t card = -1;
    Sink sink;
    CPPPControl control{&sink};

    void SetUp() override
    {
        TestApp();
        sink.control = &control;
        sysfs.Device("pcmcia0/0.0", "pcmcia");
        sysfs.Tty("ttyS1", "pcmcia0/0.0");
        std::filesystem::create_directories(root.Path() + "/dev");
        ASSERT_TRUE(std::filesystem::exists(script)) << script;
        // The store's apply step writes the peer file for the card's service.
        auto tree = D({{"CurrentSet", PStr("/Sets/1")},
                       {"Sets", D({{"1", D({{"Network", D({{"Global", D({{"IPv4", D({{"ServiceOrder", PArray::Create({PStr("S")})}})}})}})}})}})},
                       {"NetworkServices",
                        D({{"S", D({{"Interface", D({{"DeviceName", PStr("pccard-modem")}})},
                                    {"Modem", D({{"ConnectionScript", PStr(script)}})},
                                    {"PPP", D({{"CommRemoteAddress", PStr("0570000000##64")}, {"AuthName", PStr(kUser)}})}})}})}});
        ASSERT_EQ(KPPP::ApplyPeerFile(*tree), 0);
        ASSERT_TRUE(std::filesystem::exists(KPaths::PeerFilePath()));
    }
    void TearDown() override
    {
        control.ClosePort();
        StopCard();
    }

    void StartCard(std::vector<std::string> options = {})
    {
        // The account goes in the simulator's config file: its command line must not hold the
        // password either, or the check of every command line below would find it there.
        const std::string config = root.Path() + "/cardsim.conf";
        WriteFileText(config, std::string("user = ") + kUser + "\npassword = " + kPassword + "\n");
        std::vector<std::string> args = {Stage("bin/kavanti-cardsim"), "--config", config, "--link", device,
                                         "--connect-delay", "20"};
        args.insert(args.end(), options.begin(), options.end());
        card = Spawn(args);
        ASSERT_GT(card, 0);
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
    bool WaitStatuses(size_t n, double seconds = 15)
    {
        return WaitFor([&] { return sink.statuses.size() >= n; }, seconds);
    }
    void Settle() { WaitFor([] { return false; }, 0.3); }
};

} // namespace

TEST_F(EndToEnd, DialConnectsAndAHangUpAskedForEndsOnIdle)
{
    StartCard();
    ASSERT_EQ(control.Connect(kNumber, kUser, kPassword), 0);
    ASSERT_TRUE(WaitStatuses(4));
    EXPECT_EQ(sink.statuses, (std::vector<short>{4, 6, 3, 2}));

    // At every stage of the dial and while the link is up: the password is on no command line
    // and in no file under /etc/ppp.
    EXPECT_TRUE(sink.leaks.empty()) << sink.leaks.front();
    EXPECT_TRUE(CommandLinesHolding(kPassword).empty());
    EXPECT_TRUE(FilesHolding(KPaths::System("/etc/ppp"), kPassword).empty());
    EXPECT_TRUE(FilesHolding("/etc/ppp", kPassword).empty());

    ASSERT_EQ(control.Disconnect(), 0);
    ASSERT_TRUE(WaitStatuses(6));
    Settle();
    EXPECT_EQ(sink.statuses, (std::vector<short>{4, 6, 3, 2, 7, 0}));
    EXPECT_EQ(CPPPControl::GetPPPStatus(), CPPPControl::kPPPIdle);
}

TEST_F(EndToEnd, FailuresReportNine)
{
    struct Case {
        const char* what;
        std::vector<std::string> cardOptions;
        const char* password;
        std::vector<short> statuses;
        long error;
    } cases[] = {
        {"wrong password", {}, "not-the-password", {4, 6, 9}, 19},
        {"NO CARRIER", {"--dial-result", "no-carrier"}, kPassword, {9}, 8},
        {"link-mode suffix the card refuses", {"--modes", "61"}, kPassword, {9}, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StartCard(c.cardOptions);
        sink.statuses.clear();
        sink.errors.clear();
        ASSERT_EQ(control.Connect(kNumber, kUser, c.password), 0);
        ASSERT_TRUE(WaitStatuses(c.statuses.size()));
        Settle();
        EXPECT_EQ(sink.statuses, c.statuses);
        EXPECT_EQ(sink.errors.back(), c.error);
        StopCard();
    }
}

TEST_F(EndToEnd, CardDroppingTheLinkShowsHungUpThenFailure)
{
    StartCard();
    ASSERT_EQ(control.Connect(kNumber, kUser, kPassword), 0);
    ASSERT_TRUE(WaitStatuses(4));
    StopCard(); // the card is pulled: its side of the line closes
    ASSERT_TRUE(WaitStatuses(6));
    Settle();
    EXPECT_EQ(sink.statuses, (std::vector<short>{4, 6, 3, 2, 7, 9}));
    EXPECT_EQ(sink.errors.back(), 16);
}

TEST_F(EndToEnd, EmptyAccessPointDialsThePeerFilesNumberAndAccount)
{
    // Without an access point the stored number is dialled, and no password reaches the card.
    StartCard({"--password", ""});
    ASSERT_EQ(control.Connect("", "ignored", "ignored"), 0);
    ASSERT_TRUE(WaitStatuses(4));
    EXPECT_EQ(sink.statuses, (std::vector<short>{4, 6, 3, 2}));
}

TEST_F(EndToEnd, RedialAfterAFailureIn300Ticks)
{
    KTestClock clock(5000);
    sink.redial = true;
    // No card yet: the device cannot be opened and the dial fails.
    ASSERT_EQ(control.Connect(kNumber, kUser, kPassword), 0);
    ASSERT_TRUE(WaitStatuses(1));
    EXPECT_EQ(sink.statuses, (std::vector<short>{9}));
    CPPPRedial* redial = CPPPRedial::GetRedialProc();
    ASSERT_TRUE(redial->IsIdeling());

    StartCard();
    KTestClock::Advance(300);
    KPeriodical::DevoteTimeToIdlers();
    Settle();
    EXPECT_EQ(sink.statuses.size(), 1u) << "not before 300 ticks have passed";
    KTestClock::Advance(1);
    KPeriodical::DevoteTimeToIdlers();
    EXPECT_FALSE(redial->IsIdeling());
    ASSERT_TRUE(WaitStatuses(5));
    EXPECT_EQ(sink.statuses, (std::vector<short>{9, 4, 6, 3, 2}));
}

TEST_F(EndToEnd, InjectedFailuresFollowTheEventOrder)
{
    struct Case {
        const char* inject;
        std::vector<short> statuses;
        long error;
    } cases[] = {
        {"lcp-fail", {4, 9}, 10},
        {"ipcp-fail", {4, 6, 3, 0, 9}, 10}, // connect complete came first, so the end is a link down
        {"drop-after=100", {4, 6, 3, 2, 7, 9}, 16},
        {"exit=2", {9}, 2},
    };
    StartCard();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.inject);
        ScopedEnv inject("KAVANTI_PPPSIM", std::string("delay=10 ") + c.inject);
        sink.statuses.clear();
        sink.errors.clear();
        ASSERT_EQ(control.Connect(kNumber, kUser, kPassword), 0);
        ASSERT_TRUE(WaitStatuses(c.statuses.size()));
        Settle();
        EXPECT_EQ(sink.statuses, c.statuses);
        EXPECT_EQ(sink.errors.back(), c.error);
    }
}

TEST(PppSim, RefusesWhatPppdRefusesAnOrdinaryUser)
{
    SandboxRoot root;
    const std::string sim = Stage("bin/kavanti-pppsim");
    WriteFileText(KPaths::PeerFilePath(), "/dev/null\nnoauth\n");
    struct Case {
        std::string args;
        int status;
    } cases[] = {
        {"--help", 0},
        {"call kavanti plugin passwordfd.so", 2},
        {"call kavanti noauth", 2},
        {"call kavanti connect /bin/true", 2},
        {"call no-such-peer", 2},
        {"call ../kavanti", 2},
        {"call kavanti user", 2},
    };
    for (const Case& c : cases) {
        const int rc = std::system((sim + " " + c.args + " >/dev/null 2>&1").c_str());
        EXPECT_EQ(WEXITSTATUS(rc), c.status) << c.args;
    }
}

TEST(PppSim, UnknownOptionsAreUsageErrors)
{
    // As pppd: an option it does not know, before anything else is looked at (the peer file
    // here does not even exist).
    SandboxRoot root;
    const std::string sim = Stage("bin/kavanti-pppsim");
    for (const char* args : {"--bogus", "call kavanti --bogus", "bogus call kavanti", "nodetach frobnicate"}) {
        const std::string out = root.Path() + "/err";
        const int rc = std::system((sim + " " + args + " >/dev/null 2>" + out).c_str());
        EXPECT_EQ(WEXITSTATUS(rc), 2) << args;
        const std::string err = ReadFileText(out);
        EXPECT_NE(err.find("unrecognized option '"), std::string::npos) << args << ": " << err;
        EXPECT_NE(err.find("Usage: kavanti-pppsim call NAME"), std::string::npos) << err;
        EXPECT_EQ(err.find("peer"), std::string::npos) << err;
    }
}

// ---- sandboxes of a test that dies ----------------------------------------------------------

// Run only as the child of the test below: makes a sandbox, says where, and dies unannounced.
TEST(SandboxOfAKilledTest, Child)
{
    const char* report = std::getenv("KV_SANDBOX_REPORT");
    if (!report)
        GTEST_SKIP() << "run by SandboxOfAKilledTest.IsRemoved";
    SandboxRoot root;
    WriteFileText(root.Path() + "/etc/ppp/peers/kavanti", "device /dev/null\n");
    WriteFileText(report, root.Path());
    raise(SIGKILL);
}

TEST(SandboxOfAKilledTest, IsRemoved)
{
    TempDir dir;
    const std::string report = dir / "report";
    ScopedEnv env("KV_SANDBOX_REPORT", report);
    const pid_t pid = Spawn({"/proc/self/exe", "--gtest_filter=SandboxOfAKilledTest.Child"});
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    const std::string sandbox = ReadFileText(report);
    ASSERT_FALSE(sandbox.empty());
    EXPECT_TRUE(WaitFor([&] { return !std::filesystem::exists(sandbox); }, 30)) << sandbox << " was left behind";
}
