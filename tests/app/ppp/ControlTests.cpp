#include "app/ppp/CPPPControl.h"
#include "app/ppp/CPPPRedial.h"
#include "platform/shell/KPeriodical.h"
#include "platform/shell/KTicks.h"
#include "app/ppp/FakeTransport.h"

#include <gtest/gtest.h>

#include <QLoggingCategory>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

using namespace KPPP;

namespace {

struct RecordingSink : CDialupStatusSink {
    std::vector<short> statuses;
    std::vector<long> errors;
    void SetDialupStatus(short status, long error) override
    {
        statuses.push_back(status);
        errors.push_back(error);
    }
};

class ControlTest : public ::testing::Test {
protected:
    FakeTransport transport;
    ScopedTransport scoped{transport};
    RecordingSink sink;
    CPPPControl control{&sink};

    void Event(uint32_t code, int32_t result = 0, uint32_t cookie = 0)
    {
        CPPPControl::EndpointNotifier(&control, code, result, cookie);
    }
    size_t Count(const std::string& call) const
    {
        return std::count(transport.log.calls.begin(), transport.log.calls.end(), call);
    }
    std::vector<std::string> OptionCalls() const
    {
        std::vector<std::string> out;
        for (const auto& c : transport.log.calls)
            if (c.rfind("option:", 0) == 0 || c == "dial")
                out.push_back(c);
        return out;
    }
};

std::string Opt(uint32_t name) { return "option:" + std::to_string(name); }

} // namespace

// ---- the event table ----------------------------------------------------------------------

struct EventCase {
    const char* what;
    int32_t pppBefore;
    uint32_t code;
    int32_t result;
    uint32_t cookie;
    std::vector<short> reported;
    int32_t pppAfter;
};

// Failure messages name the case, never its bytes.
void PrintTo(const EventCase& c, std::ostream* os) { *os << c.what; }
class EventTable : public ControlTest, public ::testing::WithParamInterface<EventCase> {};

TEST_P(EventTable, ReportsAndPPPStatus)
{
    const EventCase& c = GetParam();
    CPPPControl::SetPPPStatus(c.pppBefore);
    Event(c.code, c.result, c.cookie);
    EXPECT_EQ(sink.statuses, c.reported) << c.what;
    EXPECT_EQ(CPPPControl::GetPPPStatus(), c.pppAfter) << c.what;
    if (!c.reported.empty() && c.reported.back() == 9) {
        EXPECT_NE(sink.errors.back(), 0) << c.what << ": the failure carries the event's error";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EventTable,
    ::testing::Values(
        EventCase{"open completed", 1, kEventOpenComplete, 0, 0, {}, 1},
        EventCase{"open failed", 1, kEventOpenComplete, -43, 0, {9}, 1},
        EventCase{"ioctl completed", 1, kEventIoctlComplete, 0, 0, {}, 1},
        EventCase{"ioctl failed", 1, kEventIoctlComplete, -50, 0, {9}, 1},
        EventCase{"connect complete", 1, kEventConnectComplete, 0, 0, {3}, 2},
        // a non-zero cookie fails and leaves the PPP status as it was
        EventCase{"connect complete with error", 1, kEventConnectComplete, 0, 19, {9}, 1},
        EventCase{"connect complete error ignores result", 3, kEventConnectComplete, 0, 8, {9}, 3},
        EventCase{"disconnect after connect complete (cancel)", 2, kEventDisconnectComplete, 0, 0, {0}, 2},
        EventCase{"disconnect after IPCP up", 3, kEventDisconnectComplete, 0, 0, {7}, 4},
        EventCase{"disconnect while idle", 1, kEventDisconnectComplete, 0, 0, {7}, 4},
        EventCase{"IPCP up", 2, kEventIPCPUp, 0, 0, {2}, 3},
        EventCase{"IPCP up with error", 2, kEventIPCPUp, 0, 10, {9}, 2},
        EventCase{"LCP down", 4, kEventLCPDown, 0, 0, {0}, 1},
        EventCase{"LCP down with error", 3, kEventLCPDown, 0, 16, {9}, 1},
        EventCase{"authentication started", 1, kEventAuthStarted, 0, 0, {6}, 1},
        EventCase{"authentication started with error", 1, kEventAuthStarted, 0, 19, {9}, 1},
        EventCase{"authentication finished", 1, kEventAuthFinished, 0, 0, {}, 1},
        EventCase{"authentication refused", 1, kEventAuthFinished, 0, 19, {9}, 1},
        EventCase{"modem initialised", 1, kEventModemInitFinished, 0, 0, {4}, 1},
        EventCase{"modem script failed", 1, kEventModemInitFinished, 0, 8, {9}, 1},
        EventCase{"unknown event", 3, 0x230F0002, 5, 5, {}, 3},
        EventCase{"unknown completion", 3, 0x20000001, 5, 0, {}, 3}),
    [](const auto& info) {
        std::string n = info.param.what;
        for (char& ch : n)
            if (!isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return n;
    });

TEST_F(ControlTest, ADialThatConnectsReportsFourSixThreeTwo)
{
    ASSERT_EQ(control.Connect("0570570711##64", "user@isp", "secret"), 0);
    for (uint32_t code : {kEventModemInitFinished, kEventAuthStarted, kEventAuthFinished, kEventConnectComplete, kEventIPCPUp})
        Event(code);
    EXPECT_EQ(sink.statuses, (std::vector<short>{4, 6, 3, 2}));
    EXPECT_EQ(CPPPControl::GetPPPStatus(), CPPPControl::kPPPIPUp);
}

// ---- cancel and disconnect ---------------------------------------------------------------

TEST_F(ControlTest, CancelBeforeConnectCompleteDoesNothing)
{
    ASSERT_EQ(control.Connect("0570", "u", "p"), 0);
    Event(kEventModemInitFinished);
    EXPECT_EQ(control.CancelCommand(), 0);
    EXPECT_EQ(Count("hangup"), 0u);
}

TEST_F(ControlTest, CancelAfterConnectCompleteHangsUpAndEndsOnIdle)
{
    ASSERT_EQ(control.Connect("0570", "u", "p"), 0);
    Event(kEventConnectComplete);
    EXPECT_EQ(control.CancelCommand(), 0);
    EXPECT_EQ(Count("hangup"), 1u);
    Event(kEventDisconnectComplete);
    Event(kEventLCPDown);
    EXPECT_EQ(sink.statuses, (std::vector<short>{3, 0, 0}));
    EXPECT_EQ(CPPPControl::GetPPPStatus(), CPPPControl::kPPPIdle);
}

TEST_F(ControlTest, CancelAfterIPCPUpDoesNothing)
{
    ASSERT_EQ(control.Connect("0570", "u", "p"), 0);
    Event(kEventConnectComplete);
    Event(kEventIPCPUp);
    control.CancelCommand();
    EXPECT_EQ(Count("hangup"), 0u);
}

TEST_F(ControlTest, HangUpAfterIPCPUpShowsHungUpThenIdle)
{
    ASSERT_EQ(control.Connect("0570", "u", "p"), 0);
    Event(kEventConnectComplete);
    Event(kEventIPCPUp);
    ASSERT_EQ(control.Disconnect(), 0);
    EXPECT_EQ(Count("hangup"), 1u);
    EXPECT_EQ(Count("open"), 1u) << "an open endpoint is not opened again";
    Event(kEventDisconnectComplete);
    EXPECT_EQ(CPPPControl::GetPPPStatus(), CPPPControl::kPPPHungUp);
    Event(kEventLCPDown);
    EXPECT_EQ(sink.statuses, (std::vector<short>{3, 2, 7, 0}));
    EXPECT_EQ(CPPPControl::GetPPPStatus(), CPPPControl::kPPPIdle);
}

TEST_F(ControlTest, DisconnectWithTheEndpointClosedOpensItThenHangsUp)
{
    ASSERT_EQ(CPPPControl::GetPortStatus(), CPPPControl::kPortClosed);
    EXPECT_EQ(control.Disconnect(), 0);
    EXPECT_EQ(transport.log.calls.back(), "hangup");
    EXPECT_EQ(CPPPControl::GetPortStatus(), CPPPControl::kPortOpen);
}

TEST_F(ControlTest, DisconnectReturnsTheOpenError)
{
    transport.initResult = -108;
    EXPECT_EQ(control.Disconnect(), -108);
    EXPECT_EQ(Count("hangup"), 0u);
}

// ---- port status ------------------------------------------------------------------------

TEST_F(ControlTest, OpenPortOpensAndAsksForProgressEvents)
{
    EXPECT_EQ(control.OpenPort(), 0);
    EXPECT_EQ(CPPPControl::GetPortStatus(), CPPPControl::kPortOpen);
    EXPECT_EQ(transport.log.calls, (std::vector<std::string>{"init", "open", "notifier", "progress-on"}));
    ASSERT_TRUE(transport.endpoint);
    EXPECT_EQ(transport.endpoint->context, &control);
}

TEST_F(ControlTest, TransportFailureSetsPortStatusZeroWithoutReport)
{
    transport.initResult = -3200;
    EXPECT_EQ(control.OpenPort(), -3200);
    EXPECT_EQ(CPPPControl::GetPortStatus(), CPPPControl::kPortTransportFailed);
    EXPECT_TRUE(sink.statuses.empty());
    // the next dial tries the transport again
    transport.initResult = 0;
    EXPECT_EQ(control.Connect("0570", "u", "p"), 0);
    EXPECT_EQ(Count("init"), 2u);
    EXPECT_EQ(CPPPControl::GetPortStatus(), CPPPControl::kPortOpen);
}

TEST_F(ControlTest, EndpointThatCannotOpenReportsElevenAndKeepsPortStatus)
{
    transport.openResult = -108;
    EXPECT_EQ(control.OpenPort(), -108);
    EXPECT_EQ(sink.statuses, (std::vector<short>{11}));
    EXPECT_EQ(CPPPControl::GetPortStatus(), CPPPControl::kPortClosed);
}

TEST_F(ControlTest, EveryDialStartsOnAFreshEndpoint)
{
    ASSERT_EQ(control.OpenPort(), 0);
    CPPPControl::SetPPPStatus(CPPPControl::kPPPIPUp);
    transport.log.calls.clear();
    ASSERT_EQ(control.Connect("0570", "u", "p"), 0);
    const std::vector<std::string> head(transport.log.calls.begin(), transport.log.calls.begin() + 5);
    EXPECT_EQ(head, (std::vector<std::string>{"progress-off", "remove-notifier", "close", "init", "open"}));
    EXPECT_EQ(transport.log.endpointsOpened, 2);
    EXPECT_EQ(CPPPControl::GetPPPStatus(), CPPPControl::kPPPIdle);
}

TEST_F(ControlTest, ClosePortOnlyWhenOpen)
{
    control.ClosePort();
    EXPECT_TRUE(transport.log.calls.empty());
    ASSERT_EQ(control.OpenPort(), 0);
    control.ClosePort();
    EXPECT_EQ(CPPPControl::GetPortStatus(), CPPPControl::kPortClosed);
    EXPECT_EQ(Count("close"), 1u);
}

TEST_F(ControlTest, DialStartsWithIdlePPPStatusEvenWhenOpenFails)
{
    CPPPControl::SetPPPStatus(CPPPControl::kPPPHungUp);
    transport.openResult = -108;
    EXPECT_EQ(control.Connect("0570", "u", "p"), -108);
    EXPECT_EQ(CPPPControl::GetPPPStatus(), CPPPControl::kPPPIdle);
    EXPECT_EQ(Count("dial"), 0u);
}

// ---- options -----------------------------------------------------------------------------

TEST_F(ControlTest, AccountOptionsThenAlertsThenDial)
{
    ASSERT_EQ(control.Connect("0570570711##64", "user@isp", "secret"), 0);
    EXPECT_EQ(OptionCalls(), (std::vector<std::string>{Opt(kOptionAccessPoint), Opt(kOptionUserName),
                                                       Opt(kOptionPassword), Opt(kOptionAlerts), "dial"}));
    auto& options = transport.log.options;
    EXPECT_EQ(options[kOptionAccessPoint], "0570570711##64");
    EXPECT_EQ(options[kOptionUserName], "user@isp");
    EXPECT_EQ(options[kOptionPassword], "secret");
    EXPECT_EQ(options[kOptionAlerts], "0");
    auto& lengths = transport.endpoint->lengths;
    EXPECT_EQ(lengths[kOptionAccessPoint], 143u);
    EXPECT_EQ(lengths[kOptionUserName], 271u);
    EXPECT_EQ(lengths[kOptionPassword], 271u);
    EXPECT_EQ(lengths[kOptionAlerts], 20u);
}

TEST_F(ControlTest, EmptyAccessPointSetsOnlyTheAlertsOption)
{
    ASSERT_EQ(control.Connect("", "user@isp", "secret"), 0);
    EXPECT_EQ(OptionCalls(), (std::vector<std::string>{Opt(kOptionAlerts), "dial"}));
    EXPECT_EQ(transport.log.options[kOptionAlerts], "0");
}

TEST_F(ControlTest, EmptyUserAndPasswordAreStillSetWithAnAccessPoint)
{
    ASSERT_EQ(control.Connect("0570", "", ""), 0);
    EXPECT_EQ(transport.log.options.count(kOptionUserName), 1u);
    EXPECT_EQ(transport.log.options[kOptionUserName], "");
    EXPECT_EQ(transport.log.options[kOptionPassword], "");
}

TEST_F(ControlTest, ValuesAreCutToTheirFields)
{
    const std::string longNumber(300, '7'), longName(300, 'u');
    ASSERT_EQ(control.Connect(longNumber.c_str(), longName.c_str(), longName.c_str()), 0);
    EXPECT_EQ(transport.log.options[kOptionAccessPoint], std::string(126, '7'));
    EXPECT_EQ(transport.log.options[kOptionUserName], std::string(254, 'u'));
    EXPECT_EQ(transport.log.options[kOptionPassword], std::string(254, 'u'));
}

struct OptionCase {
    const char* what;
    std::function<void(FakeEndpoint&)> configure;
    OSStatus expected;
    std::vector<std::string> calls;
};

// Failure messages name the case, never its bytes.
void PrintTo(const OptionCase& c, std::ostream* os) { *os << c.what; }
class OptionRules : public ControlTest, public ::testing::WithParamInterface<OptionCase> {};

TEST_P(OptionRules, ConnectResult)
{
    transport.configure = GetParam().configure;
    EXPECT_EQ(control.Connect("0570", "u", "p"), GetParam().expected) << GetParam().what;
    EXPECT_EQ(OptionCalls(), GetParam().calls) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OptionRules,
    ::testing::Values(
        OptionCase{"refused user name stops the dial", [](FakeEndpoint& e) { e.verdicts[kOptionUserName] = kOptionFailure; },
                   static_cast<OSStatus>(kOptionFailure), {Opt(kOptionAccessPoint), Opt(kOptionUserName)}},
        OptionCase{"status zero counts as success", [](FakeEndpoint& e) { e.verdicts[kOptionPassword] = 0; }, 0,
                   {Opt(kOptionAccessPoint), Opt(kOptionUserName), Opt(kOptionPassword), Opt(kOptionAlerts), "dial"}},
        OptionCase{"option error is returned", [](FakeEndpoint& e) { e.errors[kOptionAccessPoint] = -50; }, -50,
                   {Opt(kOptionAccessPoint)}},
        OptionCase{"a busy endpoint is asked again", [](FakeEndpoint& e) { e.stateChanges = 3; }, 0,
                   {Opt(kOptionAccessPoint), Opt(kOptionUserName), Opt(kOptionPassword), Opt(kOptionAlerts), "dial"}},
        OptionCase{"refused alerts option does not stop the dial",
                   [](FakeEndpoint& e) { e.verdicts[kOptionAlerts] = kOptionNotSupported; }, 0,
                   {Opt(kOptionAccessPoint), Opt(kOptionUserName), Opt(kOptionPassword), Opt(kOptionAlerts), "dial"}},
        OptionCase{"dial error is returned", [](FakeEndpoint& e) { e.dialResult = -3155; }, -3155,
                   {Opt(kOptionAccessPoint), Opt(kOptionUserName), Opt(kOptionPassword), Opt(kOptionAlerts), "dial"}}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

// ---- port discovery ----------------------------------------------------------------------

namespace {
std::pair<PortRecord, uint16_t> Port(const char* name, const char* module, uint16_t type = kDeviceTypeSerial, uint32_t flags = 0)
{
    PortRecord r;
    std::strncpy(r.name, name, sizeof r.name - 1);
    std::strncpy(r.moduleName, module, sizeof r.moduleName - 1);
    r.infoFlags = flags;
    return {r, type};
}
} // namespace

struct DiscoveryCase {
    const char* what;
    std::vector<std::pair<PortRecord, uint16_t>> ports;
    bool found;
    const char* portName;
    const char* deviceName;
};

// Failure messages name the case, never its bytes.
void PrintTo(const DiscoveryCase& c, std::ostream* os) { *os << c.what; }
class Discovery : public ControlTest, public ::testing::WithParamInterface<DiscoveryCase> {};

TEST_P(Discovery, FirstQualifyingPortWins)
{
    const DiscoveryCase& c = GetParam();
    transport.ports = c.ports;
    char portName[CPPPControl::kPortNameSize] = "unchanged";
    char deviceName[CPPPControl::kDeviceNameSize] = "unchanged";
    EXPECT_EQ(control.GetPortName(portName, deviceName), c.found) << c.what;
    EXPECT_STREQ(portName, c.portName) << c.what;
    EXPECT_STREQ(deviceName, c.deviceName) << c.what;
    EXPECT_EQ(control.GetPortName(nullptr, nullptr), c.found) << c.what << " (no destinations)";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Discovery,
    ::testing::Values(
        DiscoveryCase{"no ports", {}, false, "unchanged", "unchanged"},
        DiscoveryCase{"plain serial port", {Port("/dev/ttyS0", "ttyS0")}, false, "unchanged", "unchanged"},
        DiscoveryCase{"PC Card modem", {Port("/dev/ttyS0", "ttyS0"), Port("/dev/ttyS1", "pccard-modem")}, true, "/dev/ttyS1", "pccard-modem"},
        DiscoveryCase{"module name merely containing", {Port("/dev/ttyS2", "x-pccard-modem-2")}, true, "/dev/ttyS2", "x-pccard-modem-2"},
        DiscoveryCase{"Slipper", {Port("/dev/ttyACM0", "usbmodemSlipper")}, true, "/dev/ttyACM0", "usbmodemSlipper"},
        DiscoveryCase{"other USB modem", {Port("/dev/ttyACM0", "usbmodemOther")}, false, "unchanged", "unchanged"},
        DiscoveryCase{"alias never qualifies",
                      {Port("/dev/ttyS1", "pccard-modem", kDeviceTypeSerial, kPortIsAlias), Port("/dev/ttyS3", "pccard-modem")},
                      true, "/dev/ttyS3", "pccard-modem"},
        DiscoveryCase{"not serial", {Port("eth0", "pccard-modem", 1)}, false, "unchanged", "unchanged"},
        DiscoveryCase{"lowest index wins",
                      {Port("/dev/ttyUSB0", "usbmodemSlipper"), Port("/dev/ttyS1", "pccard-modem")}, true, "/dev/ttyUSB0", "usbmodemSlipper"}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

// ---- the redial timer ----------------------------------------------------------------------

class RedialTest : public ControlTest {
protected:
    KTestClock clock{1000};
    CPPPRedial* redial = CPPPRedial::GetRedialProc();
    void TearDown() override { redial->StopRedial(); }
};

TEST_F(RedialTest, IsASingleInstance)
{
    ASSERT_NE(redial, nullptr);
    EXPECT_EQ(CPPPRedial::GetRedialProc(), redial);
    EXPECT_FALSE(redial->IsIdeling());
}

TEST_F(RedialTest, FiresNoEarlierThanItsTickAndOnlyAtIdleTime)
{
    ASSERT_EQ(control.Connect("0570", "u", "p"), 0);
    transport.log.calls.clear();
    redial->StartRedial(&control, 300);
    EXPECT_TRUE(redial->IsIdeling());
    for (uint32_t step : {0u, 150u, 150u}) { // ticks 1000, 1150, 1300: not past yet
        KTestClock::Advance(step);
        KPeriodical::DevoteTimeToIdlers();
        EXPECT_EQ(Count("dial"), 0u) << "at tick " << TickCount();
    }
    KTestClock::Advance(50);
    EXPECT_EQ(Count("dial"), 0u) << "time alone does not dial: only an idle pass does";
    KPeriodical::DevoteTimeToIdlers();
    EXPECT_EQ(Count("dial"), 1u);
    EXPECT_FALSE(redial->IsIdeling());
    EXPECT_EQ(transport.log.options[kOptionAccessPoint], "0570") << "dials with the values kept from the last dial";
    KTestClock::Advance(1000);
    KPeriodical::DevoteTimeToIdlers();
    EXPECT_EQ(Count("dial"), 1u) << "one redial per start";
}

TEST_F(RedialTest, StopDuringTheWaitDialsNothingAndALaterStartWorks)
{
    redial->StartRedial(&control, 300);
    redial->StopRedial();
    EXPECT_FALSE(redial->IsIdeling());
    KTestClock::Advance(400);
    KPeriodical::DevoteTimeToIdlers();
    EXPECT_EQ(Count("dial"), 0u);
    redial->StopRedial(); // nothing pending: nothing happens

    redial->StartRedial(&control, 300);
    KTestClock::Advance(301);
    KPeriodical::DevoteTimeToIdlers();
    EXPECT_EQ(Count("dial"), 1u);
}

TEST_F(RedialTest, TickCounterWrapDoesNotFireEarly)
{
    KTestClock::Advance(0xFFFFFFFFu - 1000u - 100u); // 100 ticks before the wrap
    redial->StartRedial(&control, 300);
    KTestClock::Advance(200);
    KPeriodical::DevoteTimeToIdlers();
    EXPECT_EQ(Count("dial"), 0u);
    KTestClock::Advance(101);
    KPeriodical::DevoteTimeToIdlers();
    EXPECT_EQ(Count("dial"), 1u);
}

// ---- logs -----------------------------------------------------------------------------------

namespace {

std::vector<std::string>* gLogLines = nullptr;

void KeepLogLine(QtMsgType, const QMessageLogContext& context, const QString& message)
{
    if (gLogLines && context.category && std::string(context.category) == "kavanti.ppp")
        gLogLines->push_back(message.toStdString());
}

} // namespace

TEST_F(ControlTest, StateChangesAreLoggedOnlyWhenTheCategoryIsOn)
{
    std::vector<std::string> lines;
    gLogLines = &lines;
    const QtMessageHandler old = qInstallMessageHandler(KeepLogLine);

    Event(kEventModemInitFinished);
    EXPECT_TRUE(lines.empty()) << "off by default";

    QLoggingCategory::setFilterRules("kavanti.ppp.debug=true");
    Event(kEventAuthStarted);
    Event(kEventConnectComplete, 0, 19);
    QLoggingCategory::setFilterRules("");
    qInstallMessageHandler(old);
    gLogLines = nullptr;

    EXPECT_EQ(lines, (std::vector<std::string>{
                         "dial-up modem initialised \u2192 authenticating (authentication started)",
                         "dial-up authenticating \u2192 failure (connect failed: authentication failed)",
                     }));
}
