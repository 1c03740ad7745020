#include "app/ui/CCoreUiHost.h"

#include "app/core/CApplicationMain.h"
#include "platform/launch/KProcesses.h"

#if __has_include("platform/launch/ULaunchURL.h")
#include "platform/launch/ULaunchURL.h"
#define KAVANTI_HAVE_LAUNCH 1
#endif

CAppPrefs* CCoreUiHost::GetAppPrefs() { return CApplicationMain::GetAppPrefs(); }
short CCoreUiHost::GetAppStatus() { return CApplicationMain::GetAppStatus(); }
bool CCoreUiHost::IsUseSlipper() { return CApplicationMain::IsUseSlipper(); }
void CCoreUiHost::SetRedialMode(bool redial) { CApplicationMain::SetRedialMode(redial); }
long CCoreUiHost::GetDialupError() { return CApplicationMain::GetDialupError(); }

bool CCoreUiHost::Authorization()
{
    OSStatus status = 0;
    return CApplicationMain::GetSysConfig()->Authorization(&status);
}

OSStatus CCoreUiHost::NetworkSetting()
{
    return CApplicationMain::GetSysConfig()->NetworkSetting();
}

void CCoreUiHost::ClearWebCache()
{
#ifdef KAVANTI_HAVE_LAUNCH
    ULaunchURL::ClearIEWebCache();
#endif
}

bool CCoreUiHost::IsSystemSettingsRunning()
{
#ifdef KAVANTI_HAVE_LAUNCH
    return ULaunchURL::IsNetworkSettingsRunning();
#else
    return KProcesses::AnyRunning(KProcesses::NetworkSettingsPrograms());
#endif
}

bool CCoreUiHost::IsCacheBrowserRunning()
{
#ifdef KAVANTI_HAVE_LAUNCH
    return ULaunchURL::IsCacheBrowserRunning();
#else
    return KProcesses::AnyRunning({"firefox-esr", "firefox"});
#endif
}
