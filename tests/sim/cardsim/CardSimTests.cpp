#include "app/card/CModemInfo.h"
#include "app/card/CSerialPort.h"
#include "platform/shell/KPeriodical.h"
#include "support/SimProcess.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sys/stat.h>

namespace {

struct Host : CModemInfoHost {
    std::string port;
    int done = 0;
    bool CardPortName(char* dest, size_t size) override
    {
        if (port.empty() || port.size() >= size) return false;
        std::memcpy(dest, port.c_str(), port.size() + 1);
        return true;
    }
    void MeasurementDone(ModemInformation*) override { ++done; }
};

std::string TempPath(const std::string& name)
{
    return std::string(::testing::TempDir()) + "cardsim-" + std::to_string(getpid()) + "-" + name;
}

void Measure(Host& host)
{
    CModemInfo::Record() = ModemInformation{};
    CModemInfo::GetInformation(&host);
    for (int i = 0; i < 6 && host.done == 0; ++i) KPeriodical::DevoteTimeToIdlers();
}

} // namespace

TEST(CardSim, MeasuredThroughTheRealQueryWithSettingsFromAConfigFile)
{
    const std::string cfg = TempPath("card.conf");
    std::ofstream(cfg) << "# a test card\n"
                          "model = AH-TEST9\n"
                          "number = 07098765432\n"
                          "firmware = 2.5b\n"
                          "channel = 2\n"
                          "levels = 5432101234567\n";
    // The command line overrides the file.
    SimProcess sim({"--config", cfg, "--firmware", "2.6"});
    ASSERT_FALSE(sim.Slave().empty());

    Host host;
    host.port = sim.Slave();
    Measure(host);
    ASSERT_EQ(host.done, 1);
    const ModemInformation& info = CModemInfo::Record();
    EXPECT_EQ(info.modemName.View(), "AH-TEST9");
    EXPECT_EQ(info.phsNo.View(), "07098765432");
    EXPECT_EQ(info.firmwareVersion.View(), "2.6");
    EXPECT_EQ(info.channel, 2);
    const int16_t want[13] = {5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 0, 0};
    for (int i = 0; i < 13; ++i) EXPECT_EQ(info.intensity[i], want[i]) << i;
    EXPECT_FALSE(CSerialPort::PortUsed(sim.Slave().c_str()));
    unlink(cfg.c_str());
}

TEST(CardSim, EchoLayoutsAndChosenFailures)
{
    SimProcess sim({"--error-command", "ATI6", "--silent-command", "ATI5", "--level-count", "3",
                    "--levels", "52"});
    RawLine line(sim.Slave());
    ASSERT_TRUE(line.IsOpen());
    EXPECT_EQ(line.Ask("ATI4", "OK\r\n"), "\r\nKV-PHS100\r\n\r\nOK\r\n") << "echo is off at first";
    EXPECT_EQ(line.Ask("ATE1", "OK\r\n"), "\r\nOK\r\n");
    EXPECT_EQ(line.Ask("ATI4", "OK\r\n"), "ATI4\r\r\nKV-PHS100\r\n\r\nOK\r\n");
    EXPECT_EQ(line.Ask("AT@@LVL", "OK\r\n"), "AT@@LVL\r\r\n3\r\n52\r\n\r\nOK\r\n");
    EXPECT_EQ(line.Ask("ATI6", "ERROR\r\n"), "ATI6\r\r\nERROR\r\n");
    EXPECT_EQ(line.Ask("ATI5", "\n", 300), "") << "silence";
    EXPECT_EQ(line.Ask("AT+WHAT", "ERROR\r\n"), "AT+WHAT\r\r\nERROR\r\n");
    EXPECT_EQ(line.Ask("ATE0", "OK\r\n"), "ATE0\r\r\nOK\r\n");
    EXPECT_EQ(line.Ask("ATE1", "OK\r\n"), "\r\nOK\r\n");
    EXPECT_EQ(line.Ask("ATZ", "OK\r\n"), "ATZ\r\r\nOK\r\n");
    EXPECT_EQ(line.Ask("ATQ0V1E0S0=0&C1&D2+FCLASS=0", "OK\r\n"), "\r\nOK\r\n") << "a chat init string";
    EXPECT_EQ(line.Ask("AT S7=45 S0?", "OK\r\n"), "\r\n000\r\n\r\nOK\r\n");
    EXPECT_EQ(line.Ask("ATV0", "\r", 500), "0\r") << "numeric result codes";
}

TEST(CardSim, RepliesInPiecesAfterADelayMakeOneExchange)
{
    SimProcess sim({"--piece-size", "1", "--piece-gap", "2", "--delay", "100", "--echo"});
    int32_t err = 1;
    CSerialPort port(sim.Slave().c_str(), &err);
    ASSERT_EQ(err, 0);
    char reply[256] = {0};
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(port.SendPort("ATI6\r"));
    EXPECT_TRUE(port.RecvPort(reply, sizeof reply, 300));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(100));
    // The exchange ends as soon as "OK" is in, perhaps before the closing CR LF arrived: then
    // the six characters cut from the end take the information line's own CR LF.
    const std::string got = reply;
    EXPECT_TRUE(got == "ATI6\r\r\n07012345678" || got == "ATI6\r\r\n07012345678\r" ||
                got == "ATI6\r\r\n07012345678\r\n")
        << got;
}

TEST(CardSim, EchoNeverTurnsOnWithNoEcho)
{
    SimProcess sim({"--no-echo"});
    RawLine line(sim.Slave());
    EXPECT_EQ(line.Ask("ATE1", "OK\r\n"), "\r\nOK\r\n");
    EXPECT_EQ(line.Ask("ATI6", "OK\r\n"), "\r\n07012345678\r\n\r\nOK\r\n");
}

namespace {

struct DialCase {
    const char* name;
    std::vector<std::string> options;
    std::string number;
    std::string result; // the line the card answers
};
std::ostream& operator<<(std::ostream& os, const DialCase& c) { return os << c.name; }
class Dialling : public ::testing::TestWithParam<DialCase> {};

} // namespace

TEST_P(Dialling, AnswersTheDialAsConfigured)
{
    const DialCase& c = GetParam();
    std::vector<std::string> options = {"--connect-delay", "0"};
    options.insert(options.end(), c.options.begin(), c.options.end());
    SimProcess sim(options);
    RawLine line(sim.Slave());
    const std::string got = line.Ask("ATD" + c.number, "\r\n" + c.result + "\r\n");
    EXPECT_EQ(got, "\r\n" + c.result + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Table, Dialling,
    ::testing::Values(
        DialCase{"Mode64", {}, "0570570711##64", "CONNECT 64000"},
        DialCase{"Mode61", {}, "T0570570711##61", "CONNECT 32000"},
        DialCase{"NoMode", {}, "0570570711", "CONNECT"},
        DialCase{"RefusedMode", {"--modes", "64"}, "0570570711##61", "NO CARRIER"},
        DialCase{"Busy", {"--dial-result", "busy"}, "0570570711##64", "BUSY"},
        DialCase{"NoCarrier", {"--dial-result", "no-carrier"}, "0570570711##64", "NO CARRIER"},
        DialCase{"OwnConnectText", {"--connect-text", "CONNECT 128000/PIAFS"}, "1##64", "CONNECT 128000/PIAFS"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CardSim, DataModeEscapeAuthAndHangUps)
{
    const std::string log = TempPath("dial.log");
    unlink(log.c_str());
    SimProcess sim({"--connect-delay", "0", "--user", "u1", "--password", "p w", "--log", log});
    {
        RawLine line(sim.Slave());
        EXPECT_NE(line.Ask("ATD0570##64", "CONNECT 64000\r\n").find("CONNECT 64000"), std::string::npos);
        EXPECT_EQ(line.Ask("AUTH u1 p w", "\r\n"), "AUTH OK\r\n");
        EXPECT_EQ(line.Ask("AUTH u1 wrong", "\r\n"), "AUTH FAILED\r\n");
        EXPECT_EQ(line.Ask("ATI4", "\r\n", 200), "") << "no commands in data mode";
        line.Write("+++");
        EXPECT_EQ(line.ReadUntil("OK\r\n"), "\r\nOK\r\n");
        EXPECT_EQ(line.Ask("ATD1", "ERROR\r\n"), "\r\nERROR\r\n") << "the call is still up";
        EXPECT_EQ(line.Ask("ATO", "64000\r\n"), "\r\nCONNECT 64000\r\n");
        line.Write("+++");
        line.ReadUntil("OK\r\n");
        EXPECT_EQ(line.Ask("ATH", "OK\r\n"), "\r\nOK\r\n");
        EXPECT_EQ(line.Ask("ATO", "CARRIER\r\n"), "\r\nNO CARRIER\r\n");
        EXPECT_NE(line.Ask("ATD0570##61", "32000\r\n").find("CONNECT 32000"), std::string::npos);
    }
    // Closing the line hangs up: the next user finds no call.
    usleep(50000);
    RawLine again(sim.Slave());
    EXPECT_EQ(again.Ask("ATO", "CARRIER\r\n"), "\r\nNO CARRIER\r\n");
    EXPECT_EQ(sim.Stop(), 0);

    std::ifstream in(log);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("ATD0570##64\n-- dial 0570##64 mode 64\n-- connected\n"), std::string::npos) << text;
    EXPECT_NE(text.find("-- hang-up (ATH)"), std::string::npos);
    EXPECT_NE(text.find("-- hang-up (line closed)"), std::string::npos);
    unlink(log.c_str());
}

TEST(CardSim, CardPulledMidMeasurement)
{
    SimProcess sim({"--vanish-after", "3"}); // answers ATE1 and ATI4, vanishes on ATI6
    Host host;
    host.port = sim.Slave();
    CModemInfo::Record() = ModemInformation{};
    CModemInfo::Record().phsNo.Assign("kept");
    CModemInfo::GetInformation(&host);
    for (int i = 0; i < 6 && host.done == 0; ++i) KPeriodical::DevoteTimeToIdlers();
    EXPECT_EQ(host.done, 1);
    EXPECT_EQ(CModemInfo::Record().modemName.View(), "KV-PHS100");
    EXPECT_EQ(CModemInfo::Record().phsNo.View(), "kept");
    EXPECT_EQ(sim.Wait(), 0);
}

TEST(CardSim, SymlinkMadeAndRemoved)
{
    const std::string link = TempPath("ttyUSB0");
    unlink(link.c_str());
    SimProcess sim({"--link", link});
    char target[256] = {0};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), sim.Slave());
    Str255 name;
    struct OneHost : Host {} host;
    host.port = link;
    CModemInfo::SetHost(&host);
    EXPECT_TRUE(CModemInfo::GetModemNameGrobal(name));
    CModemInfo::SetHost(nullptr);
    EXPECT_EQ(name.View(), "KV-PHS100");
    EXPECT_EQ(sim.Stop(), 0);
    struct stat st{};
    EXPECT_NE(lstat(link.c_str(), &st), 0) << "the symlink is removed on exit";
}

TEST(CardSim, CommandLine)
{
    const std::string bin = StageBin("kavanti-cardsim");
    RunResult help = RunProgram({bin, "--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* opt : {"--config", "--link", "--model", "--levels", "--delay", "--piece-size", "--no-echo",
                            "--silent-command", "--error-command", "--dial-result", "--modes", "--user",
                            "--password", "--vanish-after"})
        EXPECT_NE(help.out.find(opt), std::string::npos) << opt;

    // Usage errors name the problem and give the usage line; an unknown option is unknown
    // whether or not a value follows.
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case usageErrors[] = {
        {{"--colour", "red"}, "unknown setting 'colour'"},
        {{"--bogus"}, "unknown setting 'bogus'"},
        {{"--bogus=1"}, "unknown setting 'bogus'"},
        {{"--delay", "soon"}, "needs a whole number"},
        {{"--model"}, "'--model' needs a value"},
        {{"stray"}, "unexpected argument 'stray'"},
    };
    for (const auto& c : usageErrors) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), bin);
        const RunResult r = RunProgram(args);
        EXPECT_EQ(r.status, 2) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("Usage: kavanti-cardsim [OPTIONS]"), std::string::npos) << r.err;
    }

    const std::string cfg = TempPath("bad.conf");
    std::ofstream(cfg) << "model = A\nthis line is wrong\n";
    RunResult bad = RunProgram({bin, "--config", cfg});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find(":2:"), std::string::npos) << bad.err;
    EXPECT_EQ(RunProgram({bin, "--config", "/nonexistent/card.conf"}).status, 1);

    std::ofstream(cfg) << "silent\nerror-command = ATI6\nerror-command = ATD*\nmodes = 64\n";
    RunResult dump = RunProgram({bin, "--config", cfg, "--dump-config", "--no-echo"});
    EXPECT_EQ(dump.status, 0);
    for (const char* line : {"silent = yes\n", "no-echo = yes\n", "error-command = ATI6\n", "error-command = ATD*\n",
                             "modes = 64\n"})
        EXPECT_NE(dump.out.find(line), std::string::npos) << line << dump.out;
    unlink(cfg.c_str());
}
