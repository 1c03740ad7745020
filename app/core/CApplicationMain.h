// The application object: start-up checks, the numbered commands, the application status, the
// periodic port check, card measurements, the connection sequence and the remaining-time fetch.
// Exactly one exists for the whole run; everything here runs on the main thread.
#pragma once

#include "app/card/CModemInfo.h"
#include "app/netconfig/CSysConfig.h"
#include "app/netconfig/CSysConfigHost.h"
#include "app/ppp/CPPPControl.h"
#include "app/prefs/CAppPrefs.h"
#include "platform/cf/PText.h"
// Every program enters the sandbox environment first thing in main(); kavanti finds it here.
#include "platform/paths/KPaths.h"
#include "platform/shell/KCommander.h"
#include "platform/shell/KPeriodical.h"

#include <cstdint>

class CMainWindowIface;

// Application statuses; they share the window's status code space with the dial-up statuses.
enum AppStatus : int32_t {
    kAppConfigFailed = -5,
    kAppNoModemScript = -2,
    kAppNoCard = -1,
    kAppIdle = 0,
    kAppMeasuring = 1,
    kAppConnected = 2,
};

// Dial-up statuses shown by the window beside the application statuses.
enum DialupStatus : short {
    kDialupIdle = 0,
    kDialupConnected = 2,
    kDialupConnectComplete = 3,
    kDialupModemInitDone = 4,
    kDialupAuthenticating = 6,
    kDialupHungUp = 7,
    kDialupError = 9,
    kDialupLimitBusy = 10,
    kDialupLimitDone = 11,
};

// The numbered commands the panels send up the commander chain.
enum AppCommand : int32_t {
    kCmdStart = 2,
    kCmdConnect = 2100,
    kCmdDisconnect = 2101,
    kCmdCancel = 2102,
    kCmdMeasure = 2103,
    kCmdRestartBrowser = 2105,
    kCmdOpenMail = 2106,
    kCmdOpenWeb = 2107,
    kCmdLimitTime = 2108,
};

class CApplicationMain : public KCommander,
                         public KPeriodical,
                         public CDialupStatusSink,
                         public CModemInfoHost {
public:
    static constexpr size_t kPortNameSize = CPPPControl::kPortNameSize;
    static constexpr size_t kDeviceNameSize = CPPPControl::kDeviceNameSize;
    static constexpr const char* kSlipperDeviceName = "usbmodemSlipper";

    static constexpr uint32_t kPortCheckInterval = 60;   // ticks
    static constexpr uint32_t kBusyPortWait = 60;        // ticks, per try of a measurement
    static constexpr int kBusyPortTries = 5;
    static constexpr uint32_t kLocationPoll = 20;        // ticks
    static constexpr uint32_t kLocationWait = 480;       // ticks
    static constexpr int16_t kRedialCount = 10;
    static constexpr uint32_t kRedialDelay = 300;        // ticks
    static constexpr uint32_t kPortReleasePoll = 20;     // ticks
    static constexpr int kPortReleaseTries = 9;
    static constexpr int16_t kLimitRetryLimit = 3;

    CApplicationMain();
    ~CApplicationMain() override;

    // KCommander
    bool ObeyCommand(int32_t command, void* param) override;
    void FindCommandStatus(int32_t command, bool& enabled) override;

    // The idle hook: the automatic remaining-time fetch, before the idle tasks of the pass.
    void UseIdleTime();
    void ShowAboutBox();
    // The start-up sequence. False after a stop alert: the caller ends the program at once.
    bool StartUp();
    // The port check (an idle task).
    void SpendTime() override;

    static CApplicationMain* GetAppMain() { return mAppMain; }
    static CAppPrefs* GetAppPrefs() { return &mAppPrefs; }
    static CSysConfig* GetSysConfig() { return &mSysConfig; }
    static int16_t GetAppStatus() { return static_cast<int16_t>(mAppStatus); }
    void SetAppStatus(int32_t status, bool show);
    static void SetRedialMode(bool mode) { mRedialMode = mode; }
    static bool GetRedialMode() { return mRedialMode; }
    static bool IsUseSlipper() { return mIsUseSlipper; }

    // Each fills its field by asking the port discovery (or the card) when it is still empty;
    // nullptr when there is nothing to give. `dest` may be null.
    static char* GetAppPortName(char* dest);   // kPortNameSize bytes
    static char* GetAppDeviceName(char* dest); // kDeviceNameSize bytes
    static Str255* GetAppModemName(Str255* dest);
    static const Str255& GetPHSNo() { return mPHSNo; }

    // True when the platform runtime is at least the one this build needs; `version` receives
    // the runtime's version as 0xMMmmpp.
    static bool CheckOSVersion(int32_t& version);

    void StartPortCheck();
    void StopPortCheck();
    void Measurement();
    void MeasurementDone(ModemInformation* info) override;
    void RegisterClasses() {}

    // Connection sequence.
    OSStatus StartDialup();
    void SetDialupStatus(short status, long error) override;
    static bool WaitChangeSet(const char* name);
    static bool CheckCCLFile(const char* deviceName);

    // Remaining-time check.
    void GetLimitTime();
    void SetLimitText(const char* text, int32_t length, bool succeeded, bool fromNetwork);

    // CModemInfoHost
    bool CardPortName(char* dest, size_t size) override;

    CMainWindowIface* GetMainWindow() const { return mMainWindow; }
    static CPPPControl* GetPPPControl() { return mPPPCtrl; }
    // The error that came with the last dial-up status (0 when none), for the panel's message.
    static long GetDialupError() { return mDialupError; }
    int16_t GetRedialCount() const { return mRedialCount; }
    int16_t GetLimitRetryCount() const { return mLimitRetryCount; }

private:
    // The card service's accelerator proxy onto the desktop while the link is up.
    static void ApplyDesktopProxy();
    // Runs the automatic-fetch check first in every idle pass, whether or not other tasks idle.
    class CIdleHook : public KPeriodical {
    public:
        explicit CIdleHook(CApplicationMain& app) : mApp(app) {}
        void SpendTime() override { mApp.UseIdleTime(); }

    private:
        CApplicationMain& mApp;
    };

    // The configuration updater's view of the application (its names clash with the statics).
    class CConfigHost : public CSysConfigHost {
    public:
        char* GetAppDeviceName(char* dest) override { return CApplicationMain::GetAppDeviceName(dest); }
        Str255* GetAppModemName(Str255* dest) override { return CApplicationMain::GetAppModemName(dest); }
        bool IsUseSlipper() override { return CApplicationMain::IsUseSlipper(); }
        const CAppPrefs* GetAppPrefs() override { return CApplicationMain::GetAppPrefs(); }
    };

    void ObeyStart();
    static bool DiscoverPort(char* portName, char* deviceName);

    static CApplicationMain* mAppMain;
    static CAppPrefs mAppPrefs;
    static CSysConfig mSysConfig;
    static CPPPControl* mPPPCtrl;
    static int32_t mAppStatus;
    static bool mRedialMode;
    static bool mIsUseSlipper;
    static uint32_t mPortCheckTime;
    static bool mIsStartupGetLimit;
    static char mPortName[kPortNameSize];
    static char mDeviceName[kDeviceNameSize];
    static Str255 mModemName;
    static Str255 mPHSNo;
    static long mDialupError;

    CMainWindowIface* mMainWindow = nullptr;
    bool mConnectAfterMeasure = false;
    int16_t mRedialCount = 0;
    int16_t mLimitRetryCount = 0;
    CIdleHook mIdleHook{*this};
    CConfigHost mConfigHost;
};
