// The remaining-time check against kavanti-servicesim on 127.0.0.1: the reply rules, the
// retries, the inactivity timeout and the automatic fetch once per connection.
#include "CoreFixture.h"

#include "support/ServiceSim.h"

namespace {

const char* kNumber = "07012345678";

class LimitTest : public CoreTest {
protected:
    std::unique_ptr<ServiceSim> service;
    std::string requestLog = root.Path() + "/requests.log";

    // The service with `options`, the preferences pointing at it, the card and the application.
    void StartAll(std::vector<std::string> options, std::string base = "")
    {
        std::filesystem::remove(requestLog);
        options.insert(options.end(), {"--log", requestLog});
        service = std::make_unique<ServiceSim>(options);
        ASSERT_GT(service->Port(), 0);
        WritePrefs({.limitURL = base.empty() ? service->Base() : base});
        AddCardPort();
        StartCard({"--number", kNumber});
        ASSERT_TRUE(Start());
        ClearRecords();
    }
    int Requests() const
    {
        const std::string log = ReadFileText(requestLog);
        return int(std::count(log.begin(), log.end(), '\n'));
    }
    // Fetches and turns the loop until `n` texts were shown (or a while has passed).
    bool FetchUntilShown(size_t n, double seconds = 10)
    {
        app->ObeyCommand(kCmdLimitTime, nullptr);
        return WaitFor([&] { return window.limits.size() >= n; }, seconds);
    }
    void Settle() { WaitFor([] { return false; }, 0.3); }
    static int Count(const std::vector<short>& v, short code) { return int(std::count(v.begin(), v.end(), code)); }
};

} // namespace

TEST_F(LimitTest, RepliesAreTurnedIntoTheTextShownAndStored)
{
    struct Case {
        const char* reply;
        const char* shown;
    };
    const Case cases[] = {
        {"--/--/--125\\r\\n", "02:05"},
        {"--/--/--5\\r\\n", "00:05"},
        {"--/--/--6000\\r\\n", "100:00"},
        {"--/--/--0\\r\\n", "0"},
        {"--/--/--\\r\\n", "--/--/--"},     // exactly 10 characters: shown trimmed
        {"--/--/--7\\r\\n", "00:07"},       // 11: taken apart
        {"--/--/--  42 \\r\\n", "00:42"},   // white space around the minutes
        {"--/--/--abc\\r\\n", "0"},         // not a number
        {"--/--/---61\\r\\n", "-1:-1"},     // the remainder keeps the sign
        {"  1:23 \\r\\n", "1:23"},          // short replies are kept as they are
        {"--/--/--99999999999999999999\\r\\n", "35791394:07"}, // saturates instead of overflowing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        StartAll({"--reply", std::string(kNumber) + "=" + c.reply});
        ASSERT_TRUE(FetchUntilShown(1));
        EXPECT_EQ(window.limits, (std::vector<LimitShown>{{c.shown, 133}}));
        EXPECT_EQ(CApplicationMain::GetAppPrefs()->GetLimitTime().View(), c.shown);
        EXPECT_EQ(window.statuses, std::vector<short>{kDialupLimitBusy});
        app.reset();
        service.reset();
        StopCard();
    }
}

TEST_F(LimitTest, RequestIsTheBaseURLFollowedByThePHSNumber)
{
    StartAll({"--number", std::string(kNumber) + "=125"});
    ASSERT_TRUE(FetchUntilShown(1));
    EXPECT_EQ(ReadFileText(requestLog), std::string("GET /remaining/") + kNumber + " HTTP/1.1\n");
}

TEST_F(LimitTest, BaseURLWithoutSchemeGetsHttp)
{
    service = std::make_unique<ServiceSim>(std::vector<std::string>{"--number", std::string(kNumber) + "=65"});
    WritePrefs({.limitURL = "127.0.0.1:" + std::to_string(service->Port()) + "/remaining/"});
    AddCardPort();
    StartCard({"--number", kNumber});
    ASSERT_TRUE(Start());
    ClearRecords();
    ASSERT_TRUE(FetchUntilShown(1));
    EXPECT_EQ(window.limits, (std::vector<LimitShown>{{"01:05", 133}}));
}

TEST_F(LimitTest, TooShortURLRequestsAndReportsNothing)
{
    // No card, so no number: "http://x" is 8 characters.
    WritePrefs({.limitURL = "x"});
    ASSERT_TRUE(Start());
    ClearRecords();
    app->ObeyCommand(kCmdLimitTime, nullptr);
    Settle();
    EXPECT_TRUE(window.limits.empty());
    EXPECT_EQ(window.statuses, std::vector<short>{kDialupLimitBusy}) << "the button stays off";
}

TEST_F(LimitTest, ReplyInPiecesIsShownOnceAndRight)
{
    StartAll({"--number", std::string(kNumber) + "=125", "--plan", "split=3:150"});
    ASSERT_TRUE(FetchUntilShown(1));
    Settle();
    EXPECT_EQ(window.limits, (std::vector<LimitShown>{{"02:05", 133}}));
    EXPECT_EQ(CApplicationMain::GetAppPrefs()->GetLimitTime().View(), "02:05");
}

TEST_F(LimitTest, InactivityTimeoutIsReArmedByEveryPiece)
{
    // The whole reply takes longer than the timeout; no gap between its pieces does.
    SetLimitTimeoutForTesting(2000);
    StartAll({"--number", std::string(kNumber) + "=125", "--plan", "split=3:1200"});
    ASSERT_TRUE(FetchUntilShown(1, 20));
    EXPECT_EQ(window.limits, (std::vector<LimitShown>{{"02:05", 133}}));
    EXPECT_EQ(Count(window.statuses, kDialupLimitBusy), 1) << "no retry";
}

TEST_F(LimitTest, RedirectIsFollowed)
{
    StartAll({"--number", std::string(kNumber) + "=90", "--plan", "redirect"});
    ASSERT_TRUE(FetchUntilShown(1));
    EXPECT_EQ(window.limits, (std::vector<LimitShown>{{"01:30", 133}}));
    EXPECT_EQ(Requests(), 2);
}

TEST_F(LimitTest, EmptyReplyReportsNothing)
{
    StartAll({"--reply", std::string(kNumber) + "="});
    app->ObeyCommand(kCmdLimitTime, nullptr);
    WaitFor([&] { return Requests() >= 1; }, 5);
    Settle();
    EXPECT_TRUE(window.limits.empty());
    EXPECT_EQ(app->GetLimitRetryCount(), 0);
}

TEST_F(LimitTest, ThreeFailuresInARowGiveOneBlankAndTheFourthStartsAgain)
{
    struct Case {
        const char* what;
        std::string failure;
    };
    const Case cases[] = {
        {"closed at once", "close"},
        {"HTTP error", "status=500"},
        {"no reply within the timeout", "hang"},
        {"unknown number", "status=404"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Every request fails.
        StartAll({"--number", std::string(kNumber) + "=125", "--then", c.failure});
        ASSERT_TRUE(FetchUntilShown(1));
        Settle();
        EXPECT_EQ(window.limits, (std::vector<LimitShown>{{" ", 132}}));
        EXPECT_EQ(Count(window.statuses, kDialupLimitBusy), 3) << "two immediate retries";
        EXPECT_EQ(CApplicationMain::GetAppPrefs()->GetLimitTime().View(), "") << "the stored value is kept";

        // The fourth failure is the first of a new count: two retries again before the blank.
        ASSERT_TRUE(FetchUntilShown(2));
        Settle();
        EXPECT_EQ(window.limits, (std::vector<LimitShown>{{" ", 132}, {" ", 132}}));
        EXPECT_EQ(Count(window.statuses, kDialupLimitBusy), 6);
        app.reset();
        service.reset();
        StopCard();
    }
}

TEST_F(LimitTest, ASuccessResetsTheFailureCount)
{
    StartAll({"--number", std::string(kNumber) + "=3", "--plan", "close,close,ok,close,close,ok"});
    ASSERT_TRUE(FetchUntilShown(1));
    EXPECT_EQ(window.limits, (std::vector<LimitShown>{{"00:03", 133}}));
    ASSERT_TRUE(FetchUntilShown(2));
    EXPECT_EQ(window.limits.back(), (LimitShown{"00:03", 133})) << "two failures after a success are retried, not blanked";
}

TEST_F(LimitTest, AutomaticFetchOncePerConnection)
{
    StartAll({"--number", std::string(kNumber) + "=125"});
    window.config[1417] = true;
    Idle(3);
    EXPECT_EQ(Requests(), 0) << "not while idle";
    app->SetDialupStatus(kDialupConnected, 0);
    Idle(3);
    ASSERT_TRUE(WaitFor([&] { return window.limits.size() >= 1; }));
    Idle(3);
    Settle();
    EXPECT_EQ(Requests(), 1);
    // Connected: the button comes back on with the report.
    EXPECT_EQ(window.statuses, (std::vector<short>{kDialupConnected, kDialupLimitBusy, kDialupLimitDone}));

    app->SetDialupStatus(kDialupIdle, 0);
    Idle(2);
    app->SetDialupStatus(kDialupConnected, 0);
    Idle(2);
    ASSERT_TRUE(WaitFor([&] { return window.limits.size() >= 2; }));
    EXPECT_EQ(Requests(), 2);

    // Check box off: no automatic fetch.
    window.config[1417] = false;
    app->SetDialupStatus(kDialupIdle, 0);
    Idle(2);
    app->SetDialupStatus(kDialupConnected, 0);
    Idle(2);
    Settle();
    EXPECT_EQ(Requests(), 2);
}
