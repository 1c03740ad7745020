// Desktop notifications on a private session bus: sent to a notification service when the link
// changes while the window is hidden, and nothing at all when no service is there.
#include "platform/launch/KNotify.h"
#include "support/QtLoop.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDBusConnection>

#include <csignal>
#include <filesystem>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A private dbus-daemon for this test process, started before the first bus connection.
class PrivateBus : public ::testing::Environment {
public:
    void SetUp() override
    {
        int out[2];
        ASSERT_EQ(pipe(out), 0);
        mPid = fork();
        if (mPid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM); // never outlives a crashed test
            dup2(out[1], 1);
            close(out[0]);
            execlp("dbus-daemon", "dbus-daemon", "--session", "--syslog-only", "--nofork", "--nopidfile", "--print-address=1", nullptr);
            _exit(127);
        }
        close(out[1]);
        std::string addr;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') addr += c;
        close(out[0]);
        ASSERT_FALSE(addr.empty()) << "dbus-daemon did not start";
        setenv("DBUS_SESSION_BUS_ADDRESS", addr.c_str(), 1);
    }
    void TearDown() override
    {
        if (mPid > 0) {
            kill(mPid, SIGTERM);
            waitpid(mPid, nullptr, 0);
        }
    }

private:
    pid_t mPid = -1;
};
const auto* gBus = ::testing::AddGlobalTestEnvironment(new PrivateBus);

// The fake notification service, running while the object lives.
class FakeService {
public:
    explicit FakeService(const std::string& log)
    {
        const std::string prog = (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "launch_fake_notifications").string();
        int out[2];
        if (pipe(out) != 0) return;
        mPid = fork();
        if (mPid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            dup2(out[1], 1);
            close(out[0]);
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            execl(prog.c_str(), prog.c_str(), log.c_str(), nullptr);
            _exit(127);
        }
        close(out[1]);
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
        close(out[0]);
        mReady = line == "ready";
    }
    ~FakeService()
    {
        if (mPid > 0) {
            kill(mPid, SIGTERM);
            waitpid(mPid, nullptr, 0);
        }
    }
    bool ready() const { return mReady; }

private:
    pid_t mPid = -1;
    bool mReady = false;
};

class NotifyTest : public ::testing::Test {
protected:
    void SetUp() override { TestApp(); }
    size_t Lines() const
    {
        const std::string all = ReadFileText(log);
        return size_t(std::count(all.begin(), all.end(), '\n'));
    }
    TempDir dir;
    std::string log = dir / "notifications.log";
};

TEST_F(NotifyTest, NothingIsSentWithoutANotificationService)
{
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());
    EXPECT_FALSE(KNotify::ServiceAvailable());
    EXPECT_FALSE(KNotify::Send("Kavanti", "Connected"));
    EXPECT_FALSE(KNotify::LinkStatusChanged(2, true, "Connected"));
}

TEST_F(NotifyTest, LinkChangesWhileHiddenAreNotified)
{
    FakeService service(log);
    ASSERT_TRUE(service.ready());
    ASSERT_TRUE(KNotify::ServiceAvailable());

    struct Case {
        short status;
        bool hidden;
        bool sent;
    };
    const Case cases[] = {
        {2, true, true},   // connected
        {9, true, true},   // failed
        {0, true, true},   // link down
        {2, false, false}, // the window shows it already
        {4, true, false},  // progress is not worth a notification
        {7, true, false},
    };
    size_t expected = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        SCOPED_TRACE(c.hidden);
        const std::string text = "status " + std::to_string(c.status);
        EXPECT_EQ(KNotify::LinkStatusChanged(c.status, c.hidden, text), c.sent);
        if (c.sent) {
            ++expected;
            EXPECT_TRUE(WaitFor([&] { return Lines() >= expected; }));
            const std::string all = ReadFileText(log);
            EXPECT_NE(all.find("Kavanti|Kavanti|" + text + "\n"), std::string::npos) << all;
        }
    }
    // Let any stray call arrive before counting.
    WaitFor([] { return false; }, 0.3);
    EXPECT_EQ(Lines(), expected);
}

} // namespace
