// The connection sequence: script check, configuration, location wait and dial; then the
// dial-up statuses that follow from it.
#include "app/core/CApplicationMain.h"

#include "NetSCF/NetSCFModemScripts.h"
#include "app/card/CSerialPort.h"
#include "app/core/CLaunchHooks.h"
#include "app/core/CMainWindowIface.h"
#include "app/netconfig/USysConfig.h"
#include "app/ppp/CPPPRedial.h"
#include "platform/launch/KDesktopProxy.h"
#include "platform/shell/KTicks.h"

#include <cstring>
#include <string>

namespace {

struct ScriptRow {
    const char* modemName;
    const char* scriptName;
};
constexpr ScriptRow kScripts[] = {
    {"KTR21-J", "Kirodenki KTR21-J"},
    {"KTR21C-J", "Kirodenki KTR21C-J"},
    {"KTR22-J", "Kirodenki KTR22-J"},
    {"KTR22C-J", "Kirodenki KTR22C-J"},
};
constexpr const char* kSlipperScript = "SUNTAC Slipper";
constexpr const char* kDefaultScript = "TKS KSR23C-J";

std::string FromStr255(const Str255& s) { return std::string(s.View()); }

} // namespace

bool CApplicationMain::CheckCCLFile(const char* deviceName)
{
    const char* script = kDefaultScript;
    if (deviceName && std::strcmp(deviceName, kSlipperDeviceName) == 0) {
        script = kSlipperScript;
    } else {
        Str255 model;
        if (!GetAppModemName(&model))
            model = Str255();
        for (const ScriptRow& row : kScripts)
            if (model.View() == row.modemName) {
                script = row.scriptName;
                break;
            }
    }
    PRef<PArray> scripts;
    if (NetSCCreateCCLArray(scripts) != kStatusOK || !scripts)
        return false;
    for (size_t i = 0; i < scripts->Count(); ++i)
        if (const PString* name = scripts->AtAs<PString>(i); name && *name == script)
            return true;
    return false;
}

bool CApplicationMain::WaitChangeSet(const char* name)
{
    const uint32_t start = TickCount();
    for (;;) {
        char current[256] = {};
        USysConfig::GetCurrentSetName(current);
        if (std::strcmp(current, name) == 0)
            return true;
        Delay(kLocationPoll);
        if (TickCount() - start >= kLocationWait)
            return false;
    }
}

OSStatus CApplicationMain::StartDialup()
{
    if (GetAppStatus() != kAppIdle)
        return kStatusOK;
    if (!CheckCCLFile(mDeviceName)) {
        SetAppStatus(kAppNoModemScript, true);
        return kStatusOK;
    }

    SysConfigDataRec desired{};
    SysConfigDataRec current{};
    mSysConfig.CreateNSData(desired);
    PRef<PString> device = PStringCreateWithBytes(mDeviceName, PEncoding::ASCII);
    if (device)
        USysConfig::GetCurrentSetting(device.get(), current);

    const bool right = CSysConfig::CompareNSData(desired, current) && USysConfig::GetActiveServiceCount() == 1 &&
                       device && USysConfig::ServiceIsActive(device.get());
    if (!right) {
        const OSStatus result = mSysConfig.NetworkSetting();
        if (result == kStatusUserCancelled)
            return result;
        if (result != kStatusOK) {
            SetAppStatus(kAppConfigFailed, true);
            return result;
        }
    }
    if (!WaitChangeSet(CSysConfig::kLocationName)) {
        SetAppStatus(kAppConfigFailed, true);
        return kStatusOK;
    }

    StopPortCheck();
    if (mRedialMode)
        mRedialCount = kRedialCount;

    Str255 accessPoint, userName, password;
    if (mMainWindow)
        mMainWindow->GetDialupSetting(accessPoint, userName, password);
    const OSStatus result =
        mPPPCtrl->Connect(FromStr255(accessPoint).c_str(), FromStr255(userName).c_str(), FromStr255(password).c_str());
    if (result != kStatusOK)
        SetDialupStatus(kDialupError, result);
    return result;
}

void CApplicationMain::SetDialupStatus(short status, long error)
{
    mDialupError = error;
    if (status == kDialupIdle) {
        // The link is down even while the port is still being released.
        KDesktopProxy::Restore();
        bool used = CSerialPort::PortUsed(mPortName);
        for (int tries = 0; used && tries < kPortReleaseTries; ++tries) {
            Delay(kPortReleasePoll);
            used = CSerialPort::PortUsed(mPortName);
        }
        if (used) {
            StartPortCheck();
            return;
        }
    }

    if (mMainWindow)
        mMainWindow->SetStatus(status);

    if (status == kDialupConnected) {
        SetAppStatus(kAppConnected, false);
        // Before the after-connect actions, so the programs they start use the proxy.
        ApplyDesktopProxy();
        CLaunchHooks* hooks = GetLaunchHooks();
        if (mMainWindow && mMainWindow->GetConfigSet(1413) && hooks)
            hooks->LaunchHelper("http:");
        if (mMainWindow && mMainWindow->GetConfigSet(1414) && hooks)
            hooks->LaunchHelper("mailto:");
        if (mMainWindow && mMainWindow->GetConfigSet(1416))
            if (CWindowFactory* factory = GetWindowFactory())
                factory->HideApplication();
        return;
    }
    if (status == kDialupError && mRedialMode) {
        CPPPRedial* redial = CPPPRedial::GetRedialProc();
        if (!redial || redial->IsIdeling())
            return;
        SetAppStatus(kAppIdle, false);
        redial->StartRedial(mPPPCtrl, kRedialDelay);
        if (--mRedialCount <= 0)
            mRedialMode = false;
        return;
    }
    if (status == kDialupIdle) {
        SetAppStatus(kAppIdle, false);
        return;
    }
    // A failed attempt that is not redialled ends the attempt, and the port check stopped for
    // the dial would otherwise never run again: a card removed afterwards would go unnoticed.
    if (status == kDialupError)
        StartPortCheck();
}
