#include "app/card/CSerialPort.h"
#include "platform/shell/KTicks.h"
#include "support/FakeCard.h"
#include "support/AsNobody.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <poll.h>
#include <cstring>
#include <sys/stat.h>
#include <termios.h>

namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point t0)
{
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
}

struct ExchangeCase {
    const char* name;
    std::vector<std::string> pieces; // what the card sends after the command
    uint32_t limit;                  // ticks
    bool ok;
    std::string text;                // the delivered text when ok
    long maxMs;                      // the exchange ends at once, not at the time-out
};

std::ostream& operator<<(std::ostream& os, const ExchangeCase& c) { return os << c.name; }

class Exchange : public ::testing::TestWithParam<ExchangeCase> {};

} // namespace

TEST_P(Exchange, DeliversTheReplyWithoutItsClosingLine)
{
    const ExchangeCase& c = GetParam();
    FakeCard card([&](const std::string&) { return FakeReply{c.pieces, 20}; });
    int32_t err = 1;
    CSerialPort port(card.Path(), &err);
    ASSERT_EQ(err, 0);
    ASSERT_TRUE(port.SendPort("ATI4\r"));

    char dest[256];
    std::memset(dest, 'x', sizeof dest);
    const auto t0 = Clock::now();
    EXPECT_EQ(port.RecvPort(dest, sizeof dest, c.limit), c.ok);
    EXPECT_LE(MsSince(t0), c.maxMs);
    if (c.ok)
        EXPECT_EQ(std::string(dest), c.text);
    else
        EXPECT_EQ(dest[0], 'x') << "a failed exchange leaves the destination alone";
    for (int i = 0; i < 100 && card.Commands().empty(); ++i) usleep(2000);
    EXPECT_EQ(card.Commands(), std::vector<std::string>{"ATI4"});
}

INSTANTIATE_TEST_SUITE_P(
    Replies, Exchange,
    ::testing::Values(
        ExchangeCase{"EchoTextAndOk", {"ATI4\r\r\nTEXT\r\n\r\nOK\r\n"}, 300, true, "ATI4\r\r\nTEXT\r\n", 2000},
        ExchangeCase{"BareOkIsEmptySuccess", {"\r\nOK\r\n"}, 300, true, "", 2000},
        ExchangeCase{"OkLineAtTheStartIsEmptySuccess", {"OK\r\n"}, 300, true, "", 2000},
        ExchangeCase{"OkWithoutItsLineEndIsNotTheEnd", {"\r\nOK"}, 60, false, "", 2500},
        ExchangeCase{"OkSplitOverPieces", {"ATI4\r\r\nA\r\n\r\nO", "K\r\n"}, 300, true, "ATI4\r\r\nA\r\n", 2000},
        ExchangeCase{"OkInsideTheInformationIsNotTheEnd", {"ATI4\r\r\nBOOKS", "\r\n\r\nOK\r\n"}, 300, true, "ATI4\r\r\nBOOKS\r\n", 2000},
        ExchangeCase{"ModelNameHoldingOkInPiecesOfThree", {"ATI", "4\r\r", "\nTO", "KYO", "-PH", "S\r\n", "\r\nO", "K\r\n"}, 300, true, "ATI4\r\r\nTOKYO-PHS\r\n", 2000},
        ExchangeCase{"ErrorInsideTheInformationIsNotAFailure", {"ATI4\r\r\nNO ERRORS\r\n\r\nOK\r\n"}, 300, true, "ATI4\r\r\nNO ERRORS\r\n", 2000},
        ExchangeCase{"OkAndErrorInsideALineEndNothing", {"\r\nERROR OK\r\n"}, 60, false, "", 2500},
        ExchangeCase{"ErrorFailsAtOnce", {"\r\nERROR\r\n"}, 300, false, "", 2000},
        ExchangeCase{"ErrorSplitOverPieces", {"\r\nER", "RO", "R\r\n"}, 300, false, "", 2000},
        ExchangeCase{"SilenceTimesOutAfterOneSecondWait", {}, 60, false, "", 2500},
        ExchangeCase{"LimitBelowOneSecondNeverWaits", {"", "\r\nOK\r\n"}, 30, false, "", 500}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SerialPort, LongReplyIsCutToTheDestinationAndFullBufferFails)
{
    const std::string longText(600, 'L');
    FakeCard card([&](const std::string& cmd) {
        if (cmd == "LONG") return FakeReply{{EchoedReply(cmd, longText)}};
        return FakeReply{{std::string(1100, 'z')}}; // neither OK nor ERROR
    });
    int32_t err = 1;
    CSerialPort port(card.Path(), &err);
    ASSERT_EQ(err, 0);

    struct {
        char dest[256];
        char guard[16];
    } area;
    std::memset(&area, 'g', sizeof area);
    ASSERT_TRUE(port.SendPort("LONG\r"));
    ASSERT_TRUE(port.RecvPort(area.dest, sizeof area.dest, 300));
    EXPECT_EQ(std::strlen(area.dest), 255u);
    EXPECT_EQ(std::string(area.dest, 9), "LONG\r\r\nLL");
    for (char g : area.guard) EXPECT_EQ(g, 'g');

    // 1023 characters without a marker fill the buffer: the exchange fails, without a time-out.
    const auto t0 = Clock::now();
    ASSERT_TRUE(port.SendPort("NOISE\r"));
    EXPECT_FALSE(port.RecvPort(area.dest, sizeof area.dest, 300));
    EXPECT_LT(MsSince(t0), 2000);
}

TEST(SerialPort, ALateReplyDoesNotShiftTheNextExchange)
{
    // The first answer arrives after its exchange gave up; the next command must not read it.
    std::atomic<bool> lateSent{false};
    FakeCard card([&](const std::string& cmd) {
        if (cmd == "ATI4") {
            FakeReply r{{EchoedReply(cmd, "LATE-MODEL"), ""}};
            r.beforePiece = [&](size_t i) {
                if (i == 0) usleep(1500 * 1000);
                else lateSent = true;
            };
            return r;
        }
        return FakeReply{{EchoedReply(cmd, "07012345678")}};
    });
    int32_t err = 1;
    CSerialPort port(card.Path(), &err);
    ASSERT_EQ(err, 0);
    char dest[256] = "";
    ASSERT_TRUE(port.SendPort("ATI4\r"));
    EXPECT_FALSE(port.RecvPort(dest, sizeof dest, 60));
    for (int i = 0; i < 500 && !lateSent; ++i) usleep(10 * 1000);
    ASSERT_TRUE(lateSent);
    pollfd p{port.FileDescriptor(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1) << "the late answer is waiting on the line";

    ASSERT_TRUE(port.SendPort("ATI6\r"));
    ASSERT_TRUE(port.RecvPort(dest, sizeof dest, 300));
    EXPECT_EQ(std::string(dest), "ATI6\r\r\n07012345678\r\n");
}

TEST(SerialPort, DeadlineCountsTicksNotSingleWaits)
{
    // The card trickles bytes; between them the test clock jumps past the deadline.
    KTestClock clock(0xFFFFFFF0u); // and across the counter's wrap-around
    FakeCard card([](const std::string&) {
        FakeReply r{{"a", "b", "c", "\r\nOK\r\n"}, 30};
        r.beforePiece = [](size_t i) {
            if (i == 1) KTestClock::Advance(301);
        };
        return r;
    });
    int32_t err = 1;
    CSerialPort port(card.Path(), &err);
    ASSERT_EQ(err, 0);
    char dest[64] = "untouched";
    ASSERT_TRUE(port.SendPort("AT\r"));
    EXPECT_FALSE(port.RecvPort(dest, sizeof dest, 300));
    EXPECT_STREQ(dest, "untouched");
}

TEST(SerialPort, GoneCardEndsTheExchangeWithEndOfInput)
{
    FakeCard card([](const std::string&) { return FakeReply{{}, 0, true}; });
    int32_t err = 1;
    CSerialPort port(card.Path(), &err);
    ASSERT_EQ(err, 0);
    char dest[64];
    ASSERT_TRUE(port.SendPort("ATI4\r"));
    const auto t0 = Clock::now();
    EXPECT_FALSE(port.RecvPort(dest, sizeof dest, 300));
    EXPECT_LT(MsSince(t0), 2000);
    EXPECT_FALSE(port.SendPort("ATI4\r")); // writes to a hung-up line fail, quickly
    EXPECT_LT(MsSince(t0), 2000);
}

TEST(SerialPort, UnopenedPortFailsEveryCall)
{
    int32_t err = 0;
    CSerialPort port("/nonexistent/ttyKV0", &err);
    EXPECT_EQ(err, -50);
    EXPECT_FALSE(port.IsOpen());
    char dest[8] = "keep";
    EXPECT_FALSE(port.SendPort("AT\r"));
    EXPECT_FALSE(port.RecvPort(dest, sizeof dest, 0));
    EXPECT_STREQ(dest, "keep");
}

TEST(SerialPort, PortUsedOnPathsThatCannotBeTaken)
{
    // Missing, empty, and a device that opens but is not a terminal.
    for (const char* path : {"", "/nonexistent/ttyKV0", "/dev/null"}) EXPECT_TRUE(CSerialPort::PortUsed(path)) << path;
}

TEST(SerialPort, PortUsedOnAFreePortLeavesItsSettingsAlone)
{
    FakeCard card([](const std::string&) { return FakeReply{}; });
    auto settings = [&] {
        termios t{};
        const int fd = open(card.Path(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(fd, 0);
        tcgetattr(fd, &t);
        close(fd);
        return t;
    };
    const termios before = settings();
    EXPECT_FALSE(CSerialPort::PortUsed(card.Path()));
    const termios after = settings();
    EXPECT_EQ(before.c_cflag, after.c_cflag);
    EXPECT_EQ(before.c_lflag, after.c_lflag);
    EXPECT_EQ(before.c_iflag, after.c_iflag);
    EXPECT_EQ(cfgetospeed(&before), cfgetospeed(&after));
}


TEST(SerialPort, PortHeldByAnotherIsUsed)
{
    if (getuid() != 0) GTEST_SKIP() << "needs root to drop to nobody";
    FakeCard card([](const std::string&) { return FakeReply{}; });
    ASSERT_EQ(chmod(card.Path(), 0666), 0); // so that nobody may open it at all

    EXPECT_EQ(PortUsedAsNobody(card.Path()), 0) << "a free port must be usable by nobody";
    {
        int32_t err = 1;
        CSerialPort holder(card.Path(), &err);
        ASSERT_EQ(err, 0);
        EXPECT_EQ(PortUsedAsNobody(card.Path()), 1) << "exclusive use must keep others out";
    }
    EXPECT_EQ(PortUsedAsNobody(card.Path()), 0) << "closing must release the port";
}
