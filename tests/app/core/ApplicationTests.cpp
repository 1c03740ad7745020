// The application object: start-up, the port check, measurements, commands and the statuses
// the window is told, on the shell with the test clock and a recording window.
#include "CoreFixture.h"

#include "app/card/CSerialPort.h"

using Codes = std::vector<short>;

TEST_F(CoreTest, StartWithoutACardShowsNoCardAndFindsTheCardWhenItIsInserted)
{
    WritePrefs({.autoConnect = true, .autoMeasure = true});
    ASSERT_TRUE(Start());
    EXPECT_EQ(window.statuses, Codes{kAppNoCard});
    EXPECT_EQ(window.shows, 1);
    EXPECT_EQ(window.moves, 1);
    EXPECT_EQ(CApplicationMain::GetAppPortName(nullptr), nullptr);

    // Inserted: found at the first check after a second of idle time, not before.
    AddCardPort();
    StartCard();
    After(59);
    EXPECT_EQ(CApplicationMain::GetAppStatus(), kAppNoCard);
    After(2);
    EXPECT_EQ(CApplicationMain::GetAppStatus(), kAppIdle);
    EXPECT_EQ(window.statuses, (Codes{kAppNoCard, kAppIdle}));
    char port[CApplicationMain::kPortNameSize];
    ASSERT_NE(CApplicationMain::GetAppPortName(port), nullptr);
    EXPECT_EQ(std::string(port), device);
    // Finding it again asks the card nothing, and the start-up options are not run late.
    Idle(5);
    EXPECT_EQ(CardCommands("AT"), 0);
    EXPECT_EQ(window.statuses, (Codes{kAppNoCard, kAppIdle}));
}

TEST_F(CoreTest, StartWithThePortHeldIsConnectedAsksNothingAndGoesIdleWhenReleased)
{
    WritePrefs({.autoConnect = true, .autoMeasure = true});
    AddCardPort(); // listed, but the device cannot be opened: as while the PPP link holds it
    ASSERT_TRUE(Start());
    // Connected: the remaining-time button comes on with the stored value.
    EXPECT_EQ(window.statuses, (Codes{kAppConnected, kDialupLimitDone}));
    After(61);
    EXPECT_EQ(window.statuses, (Codes{kAppConnected, kDialupLimitDone}));

    StartCard();
    After(61);
    EXPECT_EQ(window.statuses, (Codes{kAppConnected, kDialupLimitDone, kAppIdle}));
    EXPECT_EQ(CardCommands("AT"), 0) << "no card queries, no measurement, no connect";
}

TEST_F(CoreTest, StartReadsModelAndNumberAndShowsTheStoredRemainingTime)
{
    WritePrefs({.limitTime = "01:40"});
    AddCardPort();
    StartCard({"--model", "KTR22C-J", "--number", "07011112222"});
    ASSERT_TRUE(Start());
    EXPECT_EQ(window.statuses, Codes{kAppIdle});
    Str255 model;
    ASSERT_NE(CApplicationMain::GetAppModemName(&model), nullptr);
    EXPECT_EQ(model.View(), "KTR22C-J");
    EXPECT_EQ(CApplicationMain::GetPHSNo().View(), "07011112222");
    EXPECT_EQ(window.limits, (std::vector<LimitShown>{{"01:40", 132}}));
    EXPECT_FALSE(CApplicationMain::IsUseSlipper());
}

TEST_F(CoreTest, StoredRemainingTimeIsShownEvenWhenEmpty)
{
    WritePrefs({});
    ASSERT_TRUE(Start());
    EXPECT_EQ(window.limits, (std::vector<LimitShown>{{"", 132}}));
}

TEST_F(CoreTest, StartUpFailuresStopWithAnAlert)
{
    // No preferences file and no defaults to make one from.
    std::filesystem::remove(resources + "/DefaultPref.plist");
    EXPECT_FALSE(Start());
    ASSERT_EQ(factory.alerts.size(), 1u);
    EXPECT_EQ(factory.alerts[0].rfind("Error!! ", 0), 0u) << factory.alerts[0];
    EXPECT_TRUE(window.statuses.empty());
    app.reset();

    // Preferences fine, but no window can be made.
    WritePrefs({});
    factory.window = nullptr;
    factory.alerts.clear();
    EXPECT_FALSE(Start());
    EXPECT_EQ(factory.alerts.size(), 1u);
}

TEST_F(CoreTest, PlatformVersionIsTheQtRuntimeAgainstTheBuild)
{
    int32_t version = 0;
    EXPECT_TRUE(CApplicationMain::CheckOSVersion(version));
    EXPECT_GE(version, 0x060000);
}

TEST_F(CoreTest, AutoMeasureRunsFirstAndTheConnectFollowsItsEnd)
{
    RemoveScript("TKS KSR23C-J"); // a connect that runs shows -2 at once: the proof it ran
    WritePrefs({.autoConnect = true, .autoMeasure = true});
    AddCardPort();
    StartCard();
    ASSERT_TRUE(Start());
    EXPECT_EQ(window.statuses, (Codes{kAppIdle, kAppMeasuring}));
    FinishMeasurement();
    EXPECT_EQ(window.statuses, (Codes{kAppIdle, kAppMeasuring, kAppIdle, kAppNoModemScript}));
    ASSERT_EQ(window.cardInfos.size(), 1u);
    EXPECT_EQ(window.cardInfos[0].phsNo.View(), "07012345678");

    // A later measurement does not connect again.
    app->ObeyCommand(kCmdMeasure, nullptr);
    FinishMeasurement();
    EXPECT_EQ(window.statuses.back(), kAppIdle);
}

TEST_F(CoreTest, AutoConnectAloneConnectsAtOnce)
{
    RemoveScript("TKS KSR23C-J");
    WritePrefs({.autoConnect = true});
    AddCardPort();
    StartCard();
    ASSERT_TRUE(Start());
    EXPECT_EQ(window.statuses, (Codes{kAppIdle, kAppNoModemScript}));
}

TEST_F(CoreTest, DroppedMeasurementKeepsTheConnectFlagForTheNextOne)
{
    RemoveScript("TKS KSR23C-J");
    WritePrefs({.autoConnect = true, .autoMeasure = true});
    AddCardPort();
    StartCard();
    // The port becomes unusable just before the start-up measurement asks for it.
    const std::string parked = root.Path() + "/parked";
    window.onShow = [&] { std::filesystem::rename(device, parked); };
    const uint32_t before = TickCount();
    ASSERT_TRUE(Start());
    EXPECT_EQ(TickCount() - before, 5u * 60u) << "five waits of a second for the busy port";
    EXPECT_EQ(window.statuses, Codes{kAppIdle}) << "dropped silently";

    std::filesystem::rename(parked, device);
    app->ObeyCommand(kCmdMeasure, nullptr);
    FinishMeasurement();
    EXPECT_EQ(window.statuses, (Codes{kAppIdle, kAppMeasuring, kAppIdle, kAppNoModemScript}));
}

TEST_F(CoreTest, CardRemovedAndInsertedWhileIdle)
{
    WritePrefs({});
    AddCardPort();
    StartCard();
    ASSERT_TRUE(Start());
    const int queries = CardCommands("ATI");
    RemoveCardPort();
    After(30);
    EXPECT_EQ(CApplicationMain::GetAppStatus(), kAppIdle);
    After(31);
    EXPECT_EQ(CApplicationMain::GetAppStatus(), kAppNoCard);
    EXPECT_EQ(CApplicationMain::GetAppPortName(nullptr), nullptr) << "both names emptied; discovery finds nothing";
    char name[CApplicationMain::kDeviceNameSize];
    EXPECT_EQ(CApplicationMain::GetAppDeviceName(name), nullptr);

    sysfs.Tty("ttyS1", "pcmcia0/0.0");
    After(61);
    EXPECT_EQ(window.statuses, (Codes{kAppIdle, kAppNoCard, kAppIdle}));
    ASSERT_NE(CApplicationMain::GetAppDeviceName(name), nullptr);
    EXPECT_STREQ(name, "pccard-modem");
    EXPECT_EQ(CardCommands("ATI"), queries) << "finding the card again re-reads nothing";
}

TEST_F(CoreTest, SlipperIsNeverQueriedAndNeverFetchesAutomatically)
{
    WritePrefs({.limitURL = "http://127.0.0.1:9/remaining/"});
    AddSlipperPort();
    StartCard();
    window.config[1417] = true;
    ASSERT_TRUE(Start());
    EXPECT_TRUE(CApplicationMain::IsUseSlipper());
    app->ObeyCommand(kCmdConnect, nullptr);
    EXPECT_EQ(CardCommands("AT"), 0);
    app->SetDialupStatus(kDialupConnected, 0);
    Idle(3);
    EXPECT_EQ(std::count(window.statuses.begin(), window.statuses.end(), kDialupLimitBusy), 0);
}

TEST_F(CoreTest, LongPortPathFromASandboxIsKeptWhole)
{
    // Device paths below a sandbox root are longer than a tty name; the port layer's size holds them.
    WritePrefs({});
    sysfs.Device("pcmcia0/0.0", "pcmcia");
    sysfs.Tty("ttyKavantiPCCardModemPort0", "pcmcia0/0.0");
    device = KPaths::DevicePath("ttyKavantiPCCardModemPort0");
    StartCard();
    ASSERT_GT(device.size(), 36u) << "the path should be longer than the old 36-byte buffer";
    ASSERT_TRUE(Start());
    char port[CApplicationMain::kPortNameSize];
    ASSERT_NE(CApplicationMain::GetAppPortName(port), nullptr);
    EXPECT_EQ(std::string(port), device);
    char shortBuffer[16];
    EXPECT_FALSE(app->CardPortName(shortBuffer, sizeof shortBuffer)) << "a cut path would name another device";
    EXPECT_STREQ(shortBuffer, "");
}

// What the window is told, and where the application status ends, for each dial-up status.
TEST_F(CoreTest, DialupStatusTable)
{
    struct Case {
        const char* what;
        int32_t appBefore;
        bool redial;
        bool portFree;
        short status;
        Codes shown;
        int32_t appAfter;
        bool portCheck; // the port check runs afterwards
    };
    const Case cases[] = {
        {"modem initialised", kAppIdle, false, true, kDialupModemInitDone, {4}, kAppIdle, false},
        {"authenticating", kAppIdle, false, true, kDialupAuthenticating, {6}, kAppIdle, false},
        {"connect complete", kAppIdle, false, true, kDialupConnectComplete, {3}, kAppIdle, false},
        {"connected: silent 2", kAppIdle, false, true, kDialupConnected, {2}, kAppConnected, false},
        {"hung up", kAppConnected, false, true, kDialupHungUp, {7}, kAppConnected, false},
        {"link down, port free: silent 0", kAppConnected, false, true, kDialupIdle, {0}, kAppIdle, true},
        {"link down, port held: nothing shown yet", kAppConnected, false, false, kDialupIdle, {}, kAppConnected, true},
        // The attempt is over: the port check, stopped for the dial, runs again.
        {"failure without redial: status stays", kAppIdle, false, true, kDialupError, {9}, kAppIdle, true},
        {"failure with redial: silent 0", kAppConnected, true, true, kDialupError, {9}, kAppIdle, true},
        {"remaining time busy", kAppIdle, false, true, kDialupLimitBusy, {10}, kAppIdle, false},
    };
    WritePrefs({});
    AddCardPort();
    StartCard();
    ASSERT_TRUE(Start());
    const std::string parked = root.Path() + "/parked";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        app->SetAppStatus(c.appBefore, false);
        CApplicationMain::SetRedialMode(c.redial);
        if (!c.portFree) std::filesystem::rename(device, parked);
        app->StopPortCheck(); // as during a dial
        ClearRecords();
        const uint32_t before = TickCount();
        app->SetDialupStatus(c.status, 0);
        EXPECT_EQ(window.statuses, c.shown);
        EXPECT_EQ(CApplicationMain::GetAppStatus(), c.appAfter);
        EXPECT_EQ(app->IsIdling(), c.portCheck);
        if (!c.portFree) {
            EXPECT_EQ(TickCount() - before, 9u * 20u) << "nine waits for the port";
            std::filesystem::rename(parked, device);
            After(61);
            EXPECT_EQ(window.statuses, Codes{kAppIdle}) << "the port check takes over";
        }
        if (CPPPRedial* r = CPPPRedial::GetRedialProc()) r->StopRedial();
    }
}

TEST_F(CoreTest, CancelEndsEvenTheLastPendingRedial)
{
    WritePrefs({});
    AddCardPort();
    StartCard();
    ASSERT_TRUE(Start());
    // The last redial of an attempt (none counted here) clears the redial option.
    CApplicationMain::SetRedialMode(true);
    app->SetDialupStatus(kDialupError, 0);
    CPPPRedial* redial = CPPPRedial::GetRedialProc();
    ASSERT_TRUE(redial->IsIdeling());
    EXPECT_FALSE(CApplicationMain::GetRedialMode());

    // Cancel ends the pending redial, even the last one, and returns to idle.
    app->SetAppStatus(kAppConnected, false);
    ClearRecords();
    app->ObeyCommand(kCmdCancel, nullptr);
    EXPECT_FALSE(redial->IsIdeling());
    EXPECT_FALSE(CApplicationMain::GetRedialMode());
    EXPECT_EQ(window.statuses, Codes{kAppIdle});
}

TEST_F(CoreTest, BlockedStatusesPersistUntilMeasurementCancelOrLinkEvent)
{
    RemoveScript("TKS KSR23C-J");
    WritePrefs({});
    AddCardPort();
    StartCard();
    ASSERT_TRUE(Start());
    app->ObeyCommand(kCmdConnect, nullptr);
    EXPECT_EQ(CApplicationMain::GetAppStatus(), kAppNoModemScript);
    InstallScript("TKS KSR23C-J");
    ClearRecords();
    app->ObeyCommand(kCmdConnect, nullptr); // does nothing but re-read the number
    After(200);                             // the port check leaves -2 alone
    EXPECT_TRUE(window.statuses.empty());
    EXPECT_EQ(CApplicationMain::GetAppStatus(), kAppNoModemScript);

    app->ObeyCommand(kCmdMeasure, nullptr);
    FinishMeasurement();
    EXPECT_EQ(CApplicationMain::GetAppStatus(), kAppIdle);
}

TEST_F(CoreTest, CommandsReachTheirHooks)
{
    WritePrefs({});
    AddCardPort();
    StartCard();
    ASSERT_TRUE(Start());
    app->ObeyCommand(kCmdRestartBrowser, nullptr); // check box 1415 off
    window.config[1415] = true;
    app->ObeyCommand(kCmdRestartBrowser, nullptr);
    app->ObeyCommand(kCmdOpenMail, nullptr);
    app->ObeyCommand(kCmdOpenWeb, nullptr);
    EXPECT_EQ(launch.calls, (std::vector<std::string>{"restart-browser", "url mailto:support@kavanti.example",
                                                      "url http://www.kavanti.example/"}));
    // Through the commander chain, as a panel sends them.
    KCommander panel(app.get());
    EXPECT_TRUE(panel.ProcessCommand(kCmdOpenWeb));
    EXPECT_FALSE(panel.ProcessCommand(2104)) << "2104 is not the program's";
    bool enabled = false;
    app->FindCommandStatus(kCmdStart, enabled);
    EXPECT_TRUE(enabled);
    app->ShowAboutBox();
    EXPECT_EQ(factory.abouts, 1);

    // Disconnect only while connected.
    ClearRecords();
    app->ObeyCommand(kCmdDisconnect, nullptr);
    EXPECT_TRUE(window.statuses.empty());
}

TEST_F(CoreTest, AfterConnectActionsFollowTheCheckBoxesAsTheyAre)
{
    WritePrefs({});
    AddCardPort();
    StartCard();
    ASSERT_TRUE(Start());
    window.config = {{1413, true}, {1414, false}, {1416, true}};
    app->SetDialupStatus(kDialupConnected, 0);
    EXPECT_EQ(launch.calls, std::vector<std::string>{"helper http:"});
    EXPECT_EQ(factory.hides, 1);
    window.config = {{1413, false}, {1414, true}, {1416, false}};
    app->SetDialupStatus(kDialupConnected, 0);
    EXPECT_EQ(launch.calls, (std::vector<std::string>{"helper http:", "helper mailto:"}));
    EXPECT_EQ(factory.hides, 1);
}

// The modem script the connect needs, by the card it finds.
TEST_F(CoreTest, ModemScriptCheckFollowsTheCard)
{
    struct Case {
        const char* what;
        bool slipper;
        const char* model;
        const char* installed; // the only script installed
        bool found;
    };
    const Case cases[] = {
        {"KTR22C-J needs its own script", false, "KTR22C-J", "Kirodenki KTR22C-J", true},
        {"KTR22C-J without it", false, "KTR22C-J", "Kirodenki KTR22-J", false},
        {"model names compare exactly", false, "ktr21-j", "Kirodenki KTR21-J", false},
        {"any other model takes the TKS script", false, "KSR23C-J", "TKS KSR23C-J", true},
        {"the Slipper always needs its script", true, "KTR21-J", "SUNTAC Slipper", true},
        {"the Slipper ignores the card's model", true, "KTR21-J", "Kirodenki KTR21-J", false},
    };
    WritePrefs({});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(resources + "/modem-scripts");
        std::filesystem::create_directories(resources + "/modem-scripts");
        InstallScript(c.installed);
        if (c.slipper) AddSlipperPort();
        else AddCardPort();
        StartCard({"--model", c.model});
        ASSERT_TRUE(Start());
        char name[CApplicationMain::kDeviceNameSize] = {};
        CApplicationMain::GetAppDeviceName(name);
        EXPECT_EQ(CApplicationMain::CheckCCLFile(name), c.found);
        app.reset();
        StopCard();
        std::filesystem::remove_all(sysfs.Sys());
        sysfs = FakeSysfs(root.Path());
    }
}
