#include "app/card/CModemInfo.h"
#include "app/card/CSerialPort.h"
#include "platform/shell/KPeriodical.h"
#include "support/FakeCard.h"
#include "support/AsNobody.h"
#include "support/QtLoop.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

#include <QTimer>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

namespace {

struct TestHost : CModemInfoHost {
    std::string port;
    int done = 0;
    ModemInformation* last = nullptr;
    bool CardPortName(char* dest, size_t size) override
    {
        if (port.size() >= size) return false;
        std::memcpy(dest, port.c_str(), port.size() + 1);
        return !port.empty();
    }
    void MeasurementDone(ModemInformation* info) override
    {
        ++done;
        last = info;
    }
};

// A card that keeps its echo setting and answers from a table; absent commands get ERROR.
struct ScriptedCard {
    std::map<std::string, std::string> texts = {
        {"ATI4", "KV-PHS100"}, {"ATI6", "07012345678"}, {"ATI5", "1.23"},
        {"AT@@LNK", "3"},      {"AT@@LVL", "13\r\n0123450123455"}};
    std::string hangUpOn;  // the card vanishes when this command arrives
    bool echo = false;

    FakeReply operator()(const std::string& cmd)
    {
        if (cmd == hangUpOn) return FakeReply{{}, 0, true};
        const std::string e = echo ? cmd + "\r" : "";
        if (cmd == "ATE1") {
            echo = true;
            return FakeReply{{e + "\r\nOK\r\n"}};
        }
        auto it = texts.find(cmd);
        if (it == texts.end()) return FakeReply{{e + "\r\nERROR\r\n"}};
        return FakeReply{{e + "\r\n" + it->second + "\r\n\r\nOK\r\n"}};
    }
};

class ModemInfo : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp(); // measurements run their exchanges on the event loop
        CModemInfo::Record() = ModemInformation{};
        CModemInfo::SetHost(&host);
    }
    void TearDown() override { CModemInfo::SetHost(nullptr); }

    // Runs idle passes until the measurement has reported (at most `passes`).
    int RunMeasurement(int passes = 6)
    {
        CModemInfo::GetInformation(&host);
        int n = 0;
        while (host.done == 0 && n < passes) {
            IdlePass();
            ++n;
        }
        return n;
    }

    // One idle pass, then the event loop until the step it started has answered.
    void IdlePass()
    {
        KPeriodical::DevoteTimeToIdlers();
        WaitFor([&] { return host.done > 0 || KPeriodical::IdlerCount() > 0; }, 60);
    }

    TestHost host;
};

} // namespace

TEST_F(ModemInfo, MeasurementTakesOneExchangePerIdlePassAndReportsOnce)
{
    ScriptedCard script;
    FakeCard card([&](const std::string& c) { return script(c); });
    host.port = card.SlavePath();

    CModemInfo::GetInformation(&host);
    EXPECT_EQ(KPeriodical::IdlerCount(), 1u);
    for (int pass = 1; pass <= 5; ++pass) {
        IdlePass();
        EXPECT_EQ(host.done, 0);
        EXPECT_EQ(card.Commands().size(), size_t(pass));
    }
    IdlePass();
    EXPECT_EQ(host.done, 1);
    EXPECT_EQ(KPeriodical::IdlerCount(), 0u) << "the measurement deletes itself";
    EXPECT_EQ(card.Commands(), (std::vector<std::string>{"ATE1", "ATI4", "ATI6", "ATI5", "AT@@LNK", "AT@@LVL"}));

    const ModemInformation& info = *host.last;
    EXPECT_EQ(&info, &CModemInfo::Record());
    EXPECT_EQ(info.modemName.View(), "KV-PHS100");
    EXPECT_EQ(info.phsNo.View(), "07012345678");
    EXPECT_EQ(info.firmwareVersion.View(), "1.23");
    EXPECT_EQ(info.channel, 3);
    const int16_t want[13] = {0, 1, 2, 3, 4, 5, 0, 1, 2, 3, 4, 5, 5};
    for (int i = 0; i < 13; ++i) EXPECT_EQ(info.intensity[i], want[i]) << i;

    IdlePass();
    EXPECT_EQ(host.done, 1);
    EXPECT_FALSE(CSerialPort::PortUsed(card.Path())) << "the port is closed after the measurement";
}

TEST_F(ModemInfo, MeasurementHoldsThePortUntilItEnds)
{
    if (getuid() != 0) GTEST_SKIP() << "needs root to drop to nobody";
    ScriptedCard script;
    FakeCard card([&](const std::string& c) { return script(c); });
    ASSERT_EQ(chmod(card.Path(), 0666), 0);
    host.port = card.SlavePath();
    CModemInfo::GetInformation(&host);
    for (int pass = 1; pass <= 3; ++pass) IdlePass();
    EXPECT_EQ(PortUsedAsNobody(card.Path()), 1) << "a second measurement cannot take the port";
    for (int pass = 4; pass <= 6; ++pass) IdlePass();
    EXPECT_EQ(host.done, 1);
    EXPECT_EQ(PortUsedAsNobody(card.Path()), 0);
}

TEST_F(ModemInfo, MeasurementWithoutAUsablePortStillCompletesWithEarlierValues)
{
    for (const char* port : {"", "/nonexistent/ttyKV0", "/dev/null"}) {
        SCOPED_TRACE(port);
        CModemInfo::Record() = ModemInformation{};
        CModemInfo::Record().modemName.Assign("earlier");
        CModemInfo::Record().channel = 2;
        CModemInfo::Record().intensity[4] = 5;
        host = TestHost{};
        host.port = port;
        EXPECT_EQ(RunMeasurement(), 6);
        EXPECT_EQ(host.done, 1);
        EXPECT_EQ(CModemInfo::Record().modemName.View(), "earlier");
        EXPECT_EQ(CModemInfo::Record().channel, 2);
        EXPECT_EQ(CModemInfo::Record().intensity[4], 0) << "the intensity row is cleared";
        EXPECT_EQ(KPeriodical::IdlerCount(), 0u);
    }
}

TEST_F(ModemInfo, MeasurementAgainstACardThatRefusesEverything)
{
    FakeCard card([](const std::string&) { return FakeReply{{"\r\nERROR\r\n"}}; });
    host.port = card.SlavePath();
    CModemInfo::Record().phsNo.Assign("070");
    EXPECT_EQ(RunMeasurement(), 6);
    EXPECT_EQ(host.done, 1);
    EXPECT_EQ(CModemInfo::Record().phsNo.View(), "070");
    EXPECT_EQ(card.CountOf("ATE1"), 3u) << "the echo exchange is tried three times";
}

TEST_F(ModemInfo, CardThatDisappearsMidMeasurement)
{
    ScriptedCard script;
    script.hangUpOn = "ATI6";
    FakeCard card([&](const std::string& c) { return script(c); });
    host.port = card.SlavePath();
    CModemInfo::Record().phsNo.Assign("old number");
    CModemInfo::Record().channel = 4;

    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(RunMeasurement(), 6);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3)) << "end of input fails at once";
    EXPECT_EQ(host.done, 1);
    EXPECT_EQ(CModemInfo::Record().modemName.View(), "KV-PHS100");
    EXPECT_EQ(CModemInfo::Record().phsNo.View(), "old number");
    EXPECT_EQ(CModemInfo::Record().channel, 4);
}

TEST_F(ModemInfo, ASilentCardLeavesTheEventLoopServingEventsAndGivesTheSameResults)
{
    TempDir dir;
    const std::string log = dir / "commands";
    SimProcess sim({"--silent", "--log", log});
    ASSERT_FALSE(sim.Slave().empty());
    host.port = sim.Slave();
    CModemInfo::Record().modemName.Assign("earlier");
    CModemInfo::Record().channel = 2;
    CModemInfo::Record().intensity[0] = 4;

    auto commands = [&] {
        std::vector<std::string> lines;
        std::istringstream in(ReadFileText(log));
        for (std::string l; std::getline(in, l);)
            if (!l.empty()) lines.push_back(l);
        return lines;
    };
    // After each command reaches the card, a zero-delay timer; it must fire while that
    // exchange still waits for its answer.
    std::vector<bool> firedDuringExchange;
    size_t seen = 0;
    CModemInfo::GetInformation(&host);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(100);
    while (host.done == 0 && std::chrono::steady_clock::now() < end) {
        KPeriodical::DevoteTimeToIdlers();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        const size_t now = commands().size();
        if (now > seen) {
            seen = now;
            const size_t exchange = now;
            QTimer::singleShot(0, [&, exchange] {
                firedDuringExchange.push_back(host.done == 0 && KPeriodical::IdlerCount() == 0 &&
                                              commands().size() == exchange);
            });
        }
    }
    WaitFor([] { return false; }, 0.05);
    ASSERT_EQ(host.done, 1);
    EXPECT_EQ(commands(), (std::vector<std::string>{"ATE1", "ATE1", "ATE1", "ATI4", "ATI6", "ATI5", "AT@@LNK",
                                                    "AT@@LVL"}));
    EXPECT_EQ(firedDuringExchange, std::vector<bool>(8, true));
    // A measurement where nothing answers: the earlier values, the levels cleared.
    EXPECT_EQ(CModemInfo::Record().modemName.View(), "earlier");
    EXPECT_EQ(CModemInfo::Record().channel, 2);
    EXPECT_EQ(CModemInfo::Record().intensity[0], 0);
    EXPECT_EQ(KPeriodical::IdlerCount(), 0u);
}

TEST_F(ModemInfo, ADevicePathLongerThanATtyNameIsUsed)
{
    // As below a sandbox root or under /dev/serial/by-id/: far more than 35 characters.
    TempDir dir;
    const std::string link = dir / (std::string(120, 'd') + "/usb-KAVANTI_PHS_Card_0123456789-if00-port0");
    std::filesystem::create_directories(std::filesystem::path(link).parent_path());
    SimProcess sim({"--link", link});
    ASSERT_FALSE(sim.Slave().empty());
    host.port = link;
    Str255 name;
    EXPECT_TRUE(CModemInfo::GetModemNameGrobal(name));
    EXPECT_EQ(name.View(), "KV-PHS100");
    EXPECT_EQ(RunMeasurement(), 6);
    EXPECT_EQ(CModemInfo::Record().phsNo.View(), "07012345678");
}

// ---- the parsing rules, one exchange at a time ------------------------------------------

namespace {

// One exchange against a card that answers `raw` to anything (after the echo of the command).
struct OneReply {
    std::string raw;
    std::unique_ptr<FakeCard> card;
    TestHost host;
    explicit OneReply(std::string r, bool echo = true) : raw(std::move(r))
    {
        card = std::make_unique<FakeCard>([this, echo](const std::string& c) {
            return FakeReply{{(echo ? c + "\r" : std::string()) + raw}};
        });
        host.port = card->SlavePath();
        CModemInfo::SetHost(&host);
    }
    ~OneReply() { CModemInfo::SetHost(nullptr); }
};

struct LevelCase {
    const char* name;
    std::string reply; // after the echo
    bool ok;
    std::vector<int16_t> levels; // all 13
};
std::ostream& operator<<(std::ostream& os, const LevelCase& c) { return os << c.name; }
class Levels : public ::testing::TestWithParam<LevelCase> {};

std::vector<int16_t> Zero13() { return std::vector<int16_t>(13, 0); }

} // namespace

TEST_P(Levels, IntensityRule)
{
    const LevelCase& c = GetParam();
    OneReply card(c.reply);
    CModemInfo info;
    int16_t levels[13];
    std::fill(std::begin(levels), std::end(levels), 9);
    EXPECT_EQ(info.GetIntensity(levels), c.ok);
    EXPECT_EQ(std::vector<int16_t>(levels, levels + 13), c.levels);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Levels,
    ::testing::Values(
        LevelCase{"ThirteenWithSixBecomingZero", "\r\n13\r\n0123450123456\r\n\r\nOK\r\n", true,
                  {0, 1, 2, 3, 4, 5, 0, 1, 2, 3, 4, 5, 0}},
        LevelCase{"ShortLevelLineFails", "\r\n3\r\n52\r\n\r\nOK\r\n", false, Zero13()},
        LevelCase{"CountZeroFails", "\r\n0\r\n\r\n\r\nOK\r\n", false, Zero13()},
        LevelCase{"CountFourteenFails", "\r\n14\r\n01234501234501\r\n\r\nOK\r\n", false, Zero13()},
        LevelCase{"NonNumericCountFails", "\r\nXY\r\n012\r\n\r\nOK\r\n", false, Zero13()},
        LevelCase{"SpacesAndLettersGiveZero", "\r\n 5\r\n1 3x4\r\n\r\nOK\r\n", true,
                  {1, 0, 3, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0}},
        LevelCase{"ExtraLevelsIgnored", "\r\n2\r\n55555\r\n\r\nOK\r\n", true,
                  {5, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        LevelCase{"LevelsSpreadOverLines", "\r\n4\r\n12\r\n34\r\n\r\nOK\r\n", true,
                  {1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        LevelCase{"ErrorFails", "\r\nERROR\r\n", false, Zero13()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ModemInfoRules, ChannelRule)
{
    struct {
        const char* answer;
        bool ok;
        int16_t channel; // starting from 7
    } cases[] = {
        {"3", true, 3}, {"0", true, 0}, {"12", true, 12}, {"4x", true, 4},
        {"5", true, 7}, {"X", true, 7}, {"", true, 7}, {"499999999", true, INT16_MAX},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        OneReply card(std::string("\r\n") + c.answer + "\r\n\r\nOK\r\n");
        CModemInfo info;
        int16_t channel = 7;
        EXPECT_EQ(info.GetChannel(&channel), c.ok);
        EXPECT_EQ(channel, c.channel);
    }
    OneReply refusing("\r\nERROR\r\n");
    CModemInfo info;
    int16_t channel = 7;
    EXPECT_FALSE(info.GetChannel(&channel));
    EXPECT_EQ(channel, 7);
}

TEST(ModemInfoRules, TextItems)
{
    struct {
        const char* name;
        std::string reply;
        bool echo;
        bool ok;
        std::string text;
    } cases[] = {
        {"plain", "\r\nKV-PHS100\r\n\r\nOK\r\n", true, true, "KV-PHS100"},
        {"two lines joined", "\r\nLINE1\r\nLINE2\r\n\r\nOK\r\n", true, true, "LINE1LINE2"},
        {"high and control bytes dropped", "\r\nA\x85\tB\x01\r\n\r\nOK\r\n", true, true, "AB"},
        {"shorter than the echo", "\r\nOK\r\n", false, true, ""},
        {"no echo eats the answer's start", "\r\nKV-PHS100\r\n\r\nOK\r\n", false, true, "-PHS100"},
        {"long text cut to 255", "\r\n" + std::string(300, 'n') + "\r\n\r\nOK\r\n", true, true, std::string(248, 'n')},
        {"error keeps the old value", "\r\nERROR\r\n", true, false, "previous"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OneReply card(c.reply, c.echo);
        CModemInfo info;
        Str255 dest = Str255::From("previous");
        EXPECT_EQ(info.GetModemName(dest), c.ok);
        EXPECT_EQ(std::string(dest.View()), c.text);
    }
}

TEST(ModemInfoRules, ExtractInfoKeepsPrintableAsciiOnly)
{
    EXPECT_STREQ(CModemInfo::ExtractInfo("\r\n a~\x7f\x80\xff" "b\r\n"), " a~b");
    EXPECT_STREQ(CModemInfo::ExtractInfo(""), "");
    const std::string huge(5000, 'h');
    EXPECT_EQ(std::strlen(CModemInfo::ExtractInfo(huge.c_str())), 2047u);
}

TEST_F(ModemInfo, BlockingLookups)
{
    {
        ScriptedCard script;
        FakeCard card([&](const std::string& c) { return script(c); });
        host.port = card.SlavePath();
        Str255 name = Str255::From("stale"), number;
        EXPECT_TRUE(CModemInfo::GetModemNameGrobal(name));
        EXPECT_EQ(name.View(), "KV-PHS100");
        EXPECT_TRUE(CModemInfo::GetPHSNumberGrobal(number));
        EXPECT_EQ(number.View(), "07012345678");
    }
    {
        // Echo never turned on: 3 x 3 echo exchanges, and the item is never asked for.
        FakeCard card([](const std::string&) { return FakeReply{{"\r\nERROR\r\n"}}; });
        host.port = card.SlavePath();
        Str255 name = Str255::From("stale");
        EXPECT_FALSE(CModemInfo::GetModemNameGrobal(name));
        EXPECT_EQ(name.Length(), 0);
        EXPECT_EQ(card.CountOf("ATE1"), 9u);
        EXPECT_EQ(card.CountOf("ATI4"), 0u);
    }
    {
        ScriptedCard script;
        script.texts.erase("ATI6");
        FakeCard card([&](const std::string& c) { return script(c); });
        host.port = card.SlavePath();
        Str255 number = Str255::From("stale");
        EXPECT_FALSE(CModemInfo::GetPHSNumberGrobal(number));
        EXPECT_EQ(number.Length(), 0);
        EXPECT_EQ(card.CountOf("ATI6"), 3u);
    }
    host.port.clear();
    Str255 name = Str255::From("stale");
    EXPECT_FALSE(CModemInfo::GetModemNameGrobal(name));
    EXPECT_EQ(name.Length(), 0);
}
