#include "app/core/CApplicationMain.h"

#include "app/card/CSerialPort.h"
#include "app/core/CLaunchHooks.h"
#include "app/core/CMainWindowIface.h"
#include "app/netconfig/USysConfig.h"
#include "app/ppp/CPPPRedial.h"
#include "platform/launch/KDesktopProxy.h"
#include "platform/shell/KTicks.h"

#include <QtGlobal>

#include <cstdio>
#include <cstring>

CApplicationMain* CApplicationMain::mAppMain = nullptr;
CAppPrefs CApplicationMain::mAppPrefs;
CSysConfig CApplicationMain::mSysConfig;
CPPPControl* CApplicationMain::mPPPCtrl = nullptr;
int32_t CApplicationMain::mAppStatus = kAppIdle;
bool CApplicationMain::mRedialMode = false;
bool CApplicationMain::mIsUseSlipper = false;
uint32_t CApplicationMain::mPortCheckTime = 0;
bool CApplicationMain::mIsStartupGetLimit = false;
char CApplicationMain::mPortName[kPortNameSize] = {};
char CApplicationMain::mDeviceName[kDeviceNameSize] = {};
Str255 CApplicationMain::mModemName;
Str255 CApplicationMain::mPHSNo;
long CApplicationMain::mDialupError = 0;

namespace {

constexpr const char* kAlertTitle = "Error!!";
// STR# 1000 indexes 1 and 2.
constexpr const char* kAlertOSVersion = "This version of Kavanti needs a newer Qt runtime (Qt %s or later).";
constexpr const char* kAlertPreferences =
    "Kavanti cannot read or create its preferences file. Check that your configuration folder "
    "(~/.config/kavanti) can be written.";

void StopAlert(const std::string& text)
{
    if (CWindowFactory* factory = GetWindowFactory())
        factory->StopAlert(kAlertTitle, text);
    else
        std::fprintf(stderr, "%s %s\n", kAlertTitle, text.c_str());
}

int32_t ParseVersion(const char* text)
{
    int major = 0, minor = 0, patch = 0;
    if (!text || std::sscanf(text, "%d.%d.%d", &major, &minor, &patch) < 2)
        return 0;
    return (major << 16) | (minor << 8) | patch;
}

} // namespace

CApplicationMain::CApplicationMain()
{
    mAppMain = this;
    // One application object per process; only tests make another after the first is gone,
    // and the new one must not hear the old controller's events.
    if (mPPPCtrl) {
        if (CPPPRedial* redial = CPPPRedial::GetRedialProc())
            redial->StopRedial();
        mPPPCtrl->ClosePort();
        // Made here with `new CPPPControl`, so the static type is the dynamic one.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdelete-non-virtual-dtor"
        delete mPPPCtrl;
#pragma GCC diagnostic pop
    }
    mPPPCtrl = new CPPPControl(this);
    mAppStatus = kAppIdle;
    mIsUseSlipper = false;
    mConnectAfterMeasure = false;
    mRedialMode = false;
    mRedialCount = 0;
    mLimitRetryCount = 0;
    mIsStartupGetLimit = false;
    mPortCheckTime = 0;
    mPortName[0] = '\0';
    mDeviceName[0] = '\0';
    mModemName = Str255();
    mPHSNo = Str255();
    mDialupError = 0;
    CModemInfo::SetHost(this);
    mSysConfig.SetHost(&mConfigHost);
    RegisterClasses();
    mIdleHook.StartIdling();
}

CApplicationMain::~CApplicationMain()
{
    // Quitting with the link up must not leave the desktop on the accelerator proxy.
    KDesktopProxy::Restore();
    CModemInfo::SetHost(nullptr);
    if (mSysConfig.GetHost() == &mConfigHost)
        mSysConfig.SetHost(nullptr);
    if (mAppMain == this)
        mAppMain = nullptr;
}

void CApplicationMain::ApplyDesktopProxy()
{
    SysConfigDataRec current{};
    PRef<PString> device = PStringCreateWithBytes(mDeviceName, PEncoding::ASCII);
    if (device && USysConfig::GetCurrentSetting(device.get(), current))
        KDesktopProxy::Apply(std::string(current.proxyServer.View()), std::string(current.proxyPort.View()));
    else
        KDesktopProxy::Restore();
}

bool CApplicationMain::CheckOSVersion(int32_t& version)
{
    version = ParseVersion(qVersion());
    return version >= ParseVersion(QT_VERSION_STR);
}

bool CApplicationMain::DiscoverPort(char* portName, char* deviceName)
{
    return mPPPCtrl && mPPPCtrl->GetPortName(portName, deviceName);
}

bool CApplicationMain::StartUp()
{
    int32_t version = 0;
    if (!CheckOSVersion(version)) {
        char text[160];
        std::snprintf(text, sizeof text, kAlertOSVersion, QT_VERSION_STR);
        StopAlert(text);
        return false;
    }
    if (mAppPrefs.LoadPreferences() != kStatusOK) {
        StopAlert(kAlertPreferences);
        return false;
    }
    // A run killed with the link up left the desktop on its proxy; put the user's back first.
    KDesktopProxy::RecoverAfterCrash();

    if (!DiscoverPort(mPortName, mDeviceName)) {
        mAppStatus = kAppNoCard;
    } else if (CSerialPort::PortUsed(mPortName)) {
        mAppStatus = kAppConnected;
    } else if (std::strcmp(mDeviceName, kSlipperDeviceName) != 0) {
        CModemInfo::GetModemNameGrobal(mModemName);
        CModemInfo::GetPHSNumberGrobal(mPHSNo);
    }
    if (std::strcmp(mDeviceName, kSlipperDeviceName) == 0)
        mIsUseSlipper = true;

    CWindowFactory* factory = GetWindowFactory();
    mMainWindow = factory ? factory->CreateMainWindow(this) : nullptr;
    if (!mMainWindow) {
        StopAlert("The main window could not be made.");
        return false;
    }
    ObeyCommand(kCmdStart, nullptr);
    return true;
}

void CApplicationMain::ObeyStart()
{
    mMainWindow->SetStatus(static_cast<short>(mAppStatus));
    mMainWindow->MovePosition();
    mMainWindow->Show();
    StartPortCheck();
    mPPPCtrl->OpenPort();
    if (GetAppStatus() == kAppIdle) {
        if (mAppPrefs.GetAppSet(1)) {
            mConnectAfterMeasure = true;
            ObeyCommand(kCmdMeasure, nullptr);
        } else if (mAppPrefs.GetAppSet(0)) {
            ObeyCommand(kCmdConnect, nullptr);
        }
    }
    const Str255& stored = mAppPrefs.GetLimitTime();
    SetLimitText(stored.Data(), stored.Length(), true, false);
}

bool CApplicationMain::ObeyCommand(int32_t command, void* param)
{
    switch (command) {
    case kCmdStart:
        if (mMainWindow)
            ObeyStart();
        return true;
    case kCmdConnect:
        if (!mIsUseSlipper && !CSerialPort::PortUsed(mPortName))
            CModemInfo::GetPHSNumberGrobal(mPHSNo);
        StartDialup();
        return true;
    case kCmdDisconnect:
        if (GetAppStatus() == kAppConnected)
            mPPPCtrl->Disconnect();
        return true;
    case kCmdCancel:
        // The last redial of an attempt is pending with the redial option already cleared;
        // cancel must end it too, or it dials after the user cancelled.
        if (CPPPRedial* redial = CPPPRedial::GetRedialProc())
            redial->StopRedial();
        mRedialMode = false;
        mPPPCtrl->CancelCommand();
        SetAppStatus(kAppIdle, true);
        return true;
    case kCmdMeasure:
        Measurement();
        return true;
    case kCmdRestartBrowser:
        if (mMainWindow && mMainWindow->GetConfigSet(1415)) {
            // The restarted browser must start on the new location's proxy.
            if (GetAppStatus() == kAppConnected)
                ApplyDesktopProxy();
            if (CLaunchHooks* hooks = GetLaunchHooks())
                hooks->LaunchDefaultBrowser();
        }
        return true;
    case kCmdOpenMail:
        if (CLaunchHooks* hooks = GetLaunchHooks())
            hooks->LaunchURL(mAppPrefs.GetMailAddress());
        return true;
    case kCmdOpenWeb:
        if (CLaunchHooks* hooks = GetLaunchHooks())
            hooks->LaunchURL(mAppPrefs.GetHTTPAddress());
        return true;
    case kCmdLimitTime:
        if (mMainWindow)
            mMainWindow->SetStatus(kDialupLimitBusy);
        GetLimitTime();
        return true;
    default:
        return KCommander::ObeyCommand(command, param);
    }
}

void CApplicationMain::FindCommandStatus(int32_t command, bool& enabled)
{
    if (command == kCmdStart) {
        enabled = true;
        return;
    }
    KCommander::FindCommandStatus(command, enabled);
}

void CApplicationMain::UseIdleTime()
{
    if (mIsUseSlipper || !mMainWindow || !mMainWindow->GetConfigSet(1417))
        return;
    if (!mIsStartupGetLimit && GetAppStatus() == kAppConnected) {
        ObeyCommand(kCmdLimitTime, nullptr);
        mIsStartupGetLimit = true;
    } else if (mIsStartupGetLimit && GetAppStatus() != kAppConnected) {
        mIsStartupGetLimit = false;
    }
}

void CApplicationMain::ShowAboutBox()
{
    if (CWindowFactory* factory = GetWindowFactory())
        factory->ShowAboutBox();
}

void CApplicationMain::SetAppStatus(int32_t status, bool show)
{
    mAppStatus = status;
    if (status == kAppIdle)
        StartPortCheck();
    if (show && mMainWindow)
        mMainWindow->SetStatus(static_cast<short>(status));
}

char* CApplicationMain::GetAppPortName(char* dest)
{
    if (mPortName[0] == '\0')
        DiscoverPort(mPortName, nullptr);
    if (mPortName[0] == '\0')
        return nullptr;
    if (dest)
        CopyCString(dest, kPortNameSize, mPortName);
    return dest;
}

char* CApplicationMain::GetAppDeviceName(char* dest)
{
    if (mDeviceName[0] == '\0')
        DiscoverPort(nullptr, mDeviceName);
    if (mDeviceName[0] == '\0')
        return nullptr;
    if (dest)
        CopyCString(dest, kDeviceNameSize, mDeviceName);
    return dest;
}

Str255* CApplicationMain::GetAppModemName(Str255* dest)
{
    if (mModemName.Length() == 0)
        CModemInfo::GetModemNameGrobal(mModemName);
    if (mModemName.Length() == 0)
        return nullptr;
    if (dest)
        *dest = mModemName;
    return dest;
}

bool CApplicationMain::CardPortName(char* dest, size_t size)
{
    if (!dest || size == 0)
        return false;
    dest[0] = '\0';
    if (mPortName[0] == '\0')
        DiscoverPort(mPortName, nullptr);
    if (mPortName[0] == '\0')
        return false;
    // A path that does not fit would name another device: refuse it rather than cut it.
    if (!CopyCString(dest, size, mPortName)) {
        dest[0] = '\0';
        return false;
    }
    return true;
}

void CApplicationMain::StartPortCheck()
{
    if (IsIdling())
        return;
    mPortCheckTime = TickCount() + kPortCheckInterval;
    StartIdling();
}

void CApplicationMain::StopPortCheck()
{
    if (IsIdling())
        StopIdling();
}

void CApplicationMain::SpendTime()
{
    // Not yet due; compared as a difference so that the counter's wrap does not stop the check.
    if (static_cast<int32_t>(mPortCheckTime - TickCount()) >= 0)
        return;
    switch (GetAppStatus()) {
    case kAppIdle:
        if (!DiscoverPort(mPortName, mDeviceName)) {
            SetAppStatus(kAppNoCard, true);
            mPortName[0] = '\0';
            mDeviceName[0] = '\0';
        }
        break;
    case kAppConnected:
        if (!CSerialPort::PortUsed(mPortName))
            SetAppStatus(kAppIdle, true);
        break;
    case kAppNoCard:
        if (DiscoverPort(mPortName, mDeviceName))
            SetAppStatus(kAppIdle, true);
        break;
    default:
        break;
    }
    mPortCheckTime = TickCount() + kPortCheckInterval;
}

void CApplicationMain::Measurement()
{
    bool used = CSerialPort::PortUsed(mPortName);
    for (int tries = 0; used && tries < kBusyPortTries; ++tries) {
        Delay(kBusyPortWait);
        used = CSerialPort::PortUsed(mPortName);
    }
    if (used)
        return;
    StopPortCheck();
    SetAppStatus(kAppMeasuring, true);
    CModemInfo::GetInformation(this);
}

void CApplicationMain::MeasurementDone(ModemInformation* info)
{
    SetAppStatus(kAppIdle, true);
    if (info && mMainWindow)
        mMainWindow->SetCardInfo(info);
    if (mConnectAfterMeasure) {
        mConnectAfterMeasure = false;
        if (mAppPrefs.GetAppSet(0))
            ObeyCommand(kCmdConnect, nullptr);
    }
}
