// What the window and its panels need of the application object. The panels sit above the
// core but are tested without it, so they reach the application only through this interface;
// the program's own implementation forwards to CApplicationMain and CSysConfig.
#pragma once

#include "platform/cf/KStatus.h"

class CAppPrefs;

class CUiHost {
public:
    virtual ~CUiHost() = default;

    virtual CAppPrefs* GetAppPrefs() = 0;
    // The application status (CApplicationMain::GetAppStatus).
    virtual short GetAppStatus() = 0;
    // The card is the USB "usbmodemSlipper" device.
    virtual bool IsUseSlipper() = 0;
    // The redial mode of the next connection attempt, set just before Connect.
    virtual void SetRedialMode(bool redial) = 0;
    // Administrator rights for a settings change (CSysConfig::Authorization); false when refused.
    virtual bool Authorization() = 0;
    // Brings the system network configuration in line with the saved settings.
    virtual OSStatus NetworkSetting() = 0;
    // Deletes the cache of the cache-clearing browser.
    virtual void ClearWebCache() = 0;
    // Cautions 6 and 8: the system network settings application / the cache-clearing browser runs.
    virtual bool IsSystemSettingsRunning() = 0;
    virtual bool IsCacheBrowserRunning() = 0;
    // The error that came with the last dial-up status (0 when none): lets the dial-up panel say
    // why the PPP link could not be started.
    virtual long GetDialupError() { return 0; }
};
