// kavanti-ctl's D-Bus verbs and the application's D-Bus control, against FakeKavanti (the real
// CDBusControl over a window of real panes) on a private session bus.
#include "support/QtLoop.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusReply>
#include <QDBusVariant>
#include <QObject>
#include <QVariantMap>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

// A child process whose standard output is read line by line; killed and reaped at the end.
class Child {
public:
    Child(const std::vector<std::string>& args, bool mergeErr = false)
    {
        int out[2], err[2];
        if (pipe(out) != 0 || pipe(err) != 0) return;
        mPid = fork();
        if (mPid == 0) {
            dup2(out[1], 1);
            dup2(mergeErr ? out[1] : err[1], 2);
            for (int fd : {out[0], out[1], err[0], err[1]}) close(fd);
            std::vector<char*> argv;
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        mOut = out[0];
        mErr = err[0];
    }
    ~Child()
    {
        if (mPid > 0) {
            kill(mPid, SIGKILL);
            Wait();
        }
        if (mOut >= 0) close(mOut);
        if (mErr >= 0) close(mErr);
    }

    // The next line of output; false at its end or after `ms` (a bound for a hung child only,
    // not a timing margin: every wait here is for something the child says).
    bool ReadLine(std::string& line, int ms = 15000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            if (const size_t nl = mPending.find('\n'); nl != std::string::npos) {
                line = mPending.substr(0, nl);
                mPending.erase(0, nl + 1);
                mLines.push_back(line);
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd p{mOut, POLLIN, 0};
            if (poll(&p, 1, int(left.count())) <= 0) return false;
            char buf[512];
            const ssize_t n = read(mOut, buf, sizeof buf);
            if (n <= 0) return false;
            mPending.append(buf, size_t(n));
        }
    }
    // Reads until a line equal to `line` has come.
    bool WaitLine(const std::string& line, int ms = 15000)
    {
        for (std::string got; ReadLine(got, ms);)
            if (got == line) return true;
        return false;
    }
    // Every line read so far.
    const std::vector<std::string>& Lines() const { return mLines; }

    // Waits for the exit; the exit status, or -1 after a signal or a hang of 15 s.
    int Wait()
    {
        if (mPid <= 0) return mStatus;
        for (int i = 0; i < 1500; ++i) {
            int st = 0;
            const pid_t r = waitpid(mPid, &st, WNOHANG);
            if (r == mPid) {
                mPid = -1;
                mStatus = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
                return mStatus;
            }
            usleep(10000);
        }
        kill(mPid, SIGKILL);
        waitpid(mPid, nullptr, 0);
        mPid = -1;
        return -1;
    }
    std::string Err()
    {
        std::string s;
        char buf[512];
        ssize_t n;
        while ((n = read(mErr, buf, sizeof buf)) > 0) s.append(buf, size_t(n));
        return s;
    }

private:
    pid_t mPid = -1;
    int mOut = -1, mErr = -1, mStatus = -1;
    std::string mPending;
    std::vector<std::string> mLines;
};

std::string FakeKavantiPath()
{
    const char* stage = std::getenv("KAVANTI_STAGE");
    return std::string(stage ? stage : "build/stage") + "/../tests/bin/FakeKavanti";
}

RunResult Ctl(std::vector<std::string> args)
{
    args.insert(args.begin(), StageBin("kavanti-ctl"));
    return RunProgram(args);
}

nlohmann::json Status()
{
    const RunResult r = Ctl({"status", "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.status == 0 ? nlohmann::json::parse(r.out) : nlohmann::json();
}

// Collects what the control sends on the bus: StatusChanged codes and PropertiesChanged maps.
class Listener : public QObject {
    Q_OBJECT
public:
    std::vector<short> codes;
    std::vector<QVariantMap> changes;
public slots:
    void StatusChanged(short code) { codes.push_back(code); }
    void PropertiesChanged(const QString& iface, const QVariantMap& changed, const QStringList&)
    {
        if (iface == QLatin1String("org.kavanti.Kavanti1")) changes.push_back(changed);
    }
};

class CtlDBus : public ::testing::Test {
protected:
    // One private bus for the suite, as dbus-run-session would make.
    static void SetUpTestSuite()
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        sBus = new Child({"/usr/bin/dbus-daemon", "--session", "--nofork", "--print-address=1"});
        sAddress.clear();
        sBus->ReadLine(sAddress);
    }
    static void TearDownTestSuite()
    {
        delete sBus;
        sBus = nullptr;
    }
    void SetUp() override
    {
        ASSERT_FALSE(sAddress.empty()) << "dbus-daemon gave no address";
        mEnv = std::make_unique<ScopedEnv>("DBUS_SESSION_BUS_ADDRESS", sAddress);
    }
    static const std::string& Address() { return sAddress; }
    std::unique_ptr<Child> StartFake(std::vector<std::string> options = {})
    {
        options.insert(options.begin(), FakeKavantiPath());
        auto fake = std::make_unique<Child>(options);
        EXPECT_TRUE(fake->WaitLine("ready")) << fake->Err();
        return fake;
    }

    static Child* sBus;
    static std::string sAddress;
    std::unique_ptr<ScopedEnv> mEnv;
};
Child* CtlDBus::sBus = nullptr;
std::string CtlDBus::sAddress;

} // namespace

TEST_F(CtlDBus, StatusShowsThePanesOfAFreshWindow)
{
    auto fake = StartFake();
    const auto j = Status();
    EXPECT_EQ(j["Status"], 0);
    EXPECT_EQ(j["AppStatus"], 0);
    EXPECT_EQ(j["StatusMessage"], "Idle.");
    EXPECT_EQ(j["RemainingTime"], "--/--/--");
    EXPECT_EQ(j["RemainingTimeCaption"], "Remaining time");
    EXPECT_EQ(j["ConnectEnabled"], true);
    EXPECT_EQ(j["DisconnectEnabled"], false);
    EXPECT_EQ(j["CancelEnabled"], false);
    EXPECT_EQ(j["RemainingTimeEnabled"], false);
    EXPECT_EQ(j["Card"], nlohmann::json::object());

    const RunResult text = Ctl({"status"});
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("StatusMessage:         Idle."), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("ConnectEnabled:        yes"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("not measured yet"), std::string::npos) << text.out;
}

TEST_F(CtlDBus, ConnectWatchRemainingTimeDisconnect)
{
    auto fake = StartFake();
    Child watch({StageBin("kavanti-ctl"), "watch", "--until", "2"});
    ASSERT_TRUE(watch.WaitLine("0")) << "watch starts with the current status";

    const RunResult connect = Ctl({"connect", "--redial"});
    ASSERT_EQ(connect.status, 0) << connect.err;
    EXPECT_TRUE(fake->WaitLine("pressed 1102 redial=1"));
    ASSERT_TRUE(watch.WaitLine("2"));
    EXPECT_EQ(watch.Wait(), 0);
    EXPECT_EQ(watch.Lines(), (std::vector<std::string>{"0", "4", "6", "3", "2"}));

    auto j = Status();
    EXPECT_EQ(j["Status"], 2);
    EXPECT_EQ(j["AppStatus"], 2);
    EXPECT_EQ(j["StatusMessage"], "Connected.");
    EXPECT_EQ(j["ConnectEnabled"], false);
    EXPECT_EQ(j["DisconnectEnabled"], true);
    EXPECT_EQ(j["RemainingTimeEnabled"], true);

    ASSERT_EQ(Ctl({"remaining-time"}).status, 0);
    EXPECT_TRUE(fake->WaitLine("pressed 1151"));
    ASSERT_TRUE(WaitFor([&] { return Status()["RemainingTime"] == "02:05"; }));
    EXPECT_EQ(Status()["RemainingTimeCaption"], "Time left");

    // watch --until on the status it already is ends at once with that line.
    const RunResult already = Ctl({"watch", "--until", "11", "--json"});
    EXPECT_EQ(already.status, 0);
    EXPECT_EQ(already.out, "{\"status\":11}\n");

    ASSERT_EQ(Ctl({"disconnect"}).status, 0);
    EXPECT_TRUE(fake->WaitLine("pressed 1101"));
    const RunResult idle = Ctl({"watch", "--until", "0"});
    EXPECT_EQ(idle.status, 0);
    EXPECT_EQ(Status()["ConnectEnabled"], true);
}

TEST_F(CtlDBus, RefusedAccountsAndDisabledButtonsFail)
{
    struct {
        std::vector<std::string> fakeOptions;
        std::vector<std::string> ctl;
        const char* error;
        const char* pressed; // what the window saw, or null when nothing was pressed
    } cases[] = {
        {{"--user", "a"}, {"connect"}, "org.kavanti.Kavanti1.Error.InvalidAccount", "caution 3"},
        {{"--password", std::string(31, 'p')}, {"connect"}, "org.kavanti.Kavanti1.Error.InvalidAccount", "caution 4"},
        {{}, {"disconnect"}, "org.kavanti.Kavanti1.Error.Disabled", nullptr},
        {{}, {"cancel"}, "org.kavanti.Kavanti1.Error.Disabled", nullptr},
        {{}, {"remaining-time"}, "org.kavanti.Kavanti1.Error.Disabled", nullptr},
        {{"--no-card"}, {"measure"}, "org.kavanti.Kavanti1.Error.Disabled", nullptr},
    };
    for (const auto& c : cases) {
        auto fake = StartFake(c.fakeOptions);
        const RunResult r = Ctl(c.ctl);
        EXPECT_EQ(r.status, 1) << c.ctl[0];
        EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
        if (c.pressed) {
            EXPECT_TRUE(fake->WaitLine(c.pressed)) << c.ctl[0];
        }
        EXPECT_EQ(Status()["Status"], 0) << "nothing started";
        // Whatever was pressed has been reported by now: the next line is the quit.
        ASSERT_EQ(RunProgram({"/usr/bin/dbus-send", "--session", "--print-reply", "--dest=org.kavanti.Kavanti",
                              "/org/kavanti/Kavanti", "org.kavanti.Kavanti1.Quit"}).status, 0);
        EXPECT_TRUE(fake->WaitLine("quit"));
        for (const auto& l : fake->Lines()) {
            if (!c.pressed) {
                EXPECT_EQ(l.rfind("pressed", 0), std::string::npos) << l;
            }
        }
        EXPECT_EQ(fake->Wait(), 0);
    }
}

TEST_F(CtlDBus, SignalsAndPropertiesOverTheBus)
{
    auto fake = StartFake();
    TestApp();
    qDBusRegisterMetaType<QList<short>>();
    QDBusConnection bus = QDBusConnection::connectToBus(QString::fromStdString(Address()), "ctl-dbus-test");
    ASSERT_TRUE(bus.isConnected());
    Listener listener;
    ASSERT_TRUE(bus.connect("org.kavanti.Kavanti", "/org/kavanti/Kavanti", "org.kavanti.Kavanti1", "StatusChanged",
                            &listener, SLOT(StatusChanged(short))));
    ASSERT_TRUE(bus.connect("org.kavanti.Kavanti", "/org/kavanti/Kavanti", "org.freedesktop.DBus.Properties",
                            "PropertiesChanged", &listener,
                            SLOT(PropertiesChanged(QString, QVariantMap, QStringList))));
    auto call = [&](const char* method, QVariantList args = {}) {
        QDBusMessage m = QDBusMessage::createMethodCall("org.kavanti.Kavanti", "/org/kavanti/Kavanti",
                                                        "org.kavanti.Kavanti1", method);
        m.setArguments(args);
        return bus.call(m);
    };
    auto get = [&](const char* name) {
        QDBusMessage m = QDBusMessage::createMethodCall("org.kavanti.Kavanti", "/org/kavanti/Kavanti",
                                                        "org.freedesktop.DBus.Properties", "Get");
        m << QString("org.kavanti.Kavanti1") << QString(name);
        const QDBusMessage r = bus.call(m);
        return r.arguments().isEmpty() ? QVariant() : r.arguments().first().value<QDBusVariant>().variant();
    };
    // The last announced value of a property.
    auto announced = [&](const QString& name) {
        QVariant v;
        for (const auto& c : listener.changes)
            if (c.contains(name)) v = c.value(name);
        return v;
    };

    // The card of the last measurement (taken while idle: connected, the button gives way), with its types.
    EXPECT_EQ(call("Measure").type(), QDBusMessage::ReplyMessage);
    ASSERT_TRUE(WaitFor([&] { return announced("Card").isValid(); }));
    const QVariant card = get("Card");
    const QVariantMap m = qdbus_cast<QVariantMap>(card.value<QDBusArgument>());
    EXPECT_EQ(m.value("ModelName").toString(), "KV-PHS100");
    EXPECT_EQ(m.value("PhsNumber").toString(), "07012345678");
    EXPECT_EQ(m.value("FirmwareVersion").toString(), "1.00");
    EXPECT_EQ(m.value("Channel").metaType(), QMetaType::fromType<short>());
    EXPECT_EQ(m.value("Channel").value<short>(), 3);
    const QList<short> levels = qdbus_cast<QList<short>>(m.value("Intensity").value<QDBusArgument>());
    EXPECT_EQ(levels, (QList<short>{3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 5}));

    const RunResult text = Ctl({"status"});
    EXPECT_NE(text.out.find("Intensity:           3 3 3 3 4 4 4 4 5 5 5 5 5"), std::string::npos) << text.out;
    EXPECT_EQ(Status()["Card"]["Channel"], 3);

    EXPECT_EQ(call("Connect", {false}).type(), QDBusMessage::ReplyMessage);
    ASSERT_TRUE(WaitFor([&] { return announced("DisconnectEnabled") == QVariant(true); }));
    EXPECT_EQ(listener.codes, (std::vector<short>{4, 6, 3, 2}));
    EXPECT_EQ(announced("Status"), QVariant::fromValue<short>(2));
    EXPECT_EQ(announced("ConnectEnabled"), QVariant(false));
    EXPECT_EQ(announced("StatusMessage"), QVariant(QString("Connected.")));
    EXPECT_EQ(announced("AppStatus"), QVariant::fromValue<short>(2));
    EXPECT_TRUE(fake->WaitLine("pressed 1102 redial=0"));

    // Quit ends the application; a watcher sees it go.
    Child watch({StageBin("kavanti-ctl"), "watch"});
    ASSERT_TRUE(watch.WaitLine("2"));
    EXPECT_EQ(call("Quit").type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(fake->WaitLine("quit"));
    EXPECT_EQ(fake->Wait(), 0);
    EXPECT_EQ(watch.Wait(), 1);
    EXPECT_NE(watch.Err().find("Kavanti quit"), std::string::npos);
    QDBusConnection::disconnectFromBus("ctl-dbus-test");
}

TEST_F(CtlDBus, SecondInstanceHandsOverAndExits)
{
    auto first = StartFake();
    Child second({FakeKavantiPath()});
    EXPECT_TRUE(second.WaitLine("handed over"));
    EXPECT_EQ(second.Wait(), 0);
    EXPECT_TRUE(first->WaitLine("shown")) << "ShowWindow reached the first window";
    EXPECT_EQ(Status()["Status"], 0) << "the first one still answers";
}

TEST_F(CtlDBus, WithoutKavantiOrWithoutABus)
{
    for (const char* verb : {"status", "connect", "disconnect", "cancel", "measure", "remaining-time", "watch"}) {
        const RunResult r = Ctl({verb});
        EXPECT_EQ(r.status, 1) << verb;
        EXPECT_NE(r.err.find("Kavanti is not running"), std::string::npos) << r.err;
    }
    {
        ScopedEnv none("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kavanti-bus");
        const RunResult r = Ctl({"status"});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("no D-Bus session bus"), std::string::npos) << r.err;

        // The application runs on without the interface and says so once.
        Child app({FakeKavantiPath(), "--exit-after-start"});
        EXPECT_TRUE(app.WaitLine("ready without D-Bus"));
        EXPECT_EQ(app.Wait(), 0);
        const std::string err = app.Err();
        const auto first = err.find("no D-Bus session bus");
        EXPECT_NE(first, std::string::npos) << err;
        EXPECT_EQ(err.find("no D-Bus session bus", first + 1), std::string::npos) << "said once: " << err;
    }
}

TEST(CtlDBusUsage, UsageErrorsExit2)
{
    const std::vector<std::string> cases[] = {
        {"status", "--bogus"}, {"connect", "--redial", "extra"}, {"watch", "--until"},
        {"watch", "--until", "two"}, {"watch", "--until", "70000"}, {"disconnect", "now"},
    };
    for (const auto& args : cases) {
        const RunResult r = Ctl(args);
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_NE(r.err.find("usage: kavanti-ctl"), std::string::npos) << r.err;
    }
    const RunResult help = Ctl({"watch", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--until CODE"), std::string::npos);
}

#include "CtlDBusTests.moc"
