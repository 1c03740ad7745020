// The window's view of the real application object, its configuration updater and the desktop.
#pragma once

#include "app/ui/CUiHost.h"

class CCoreUiHost : public CUiHost {
public:
    CAppPrefs* GetAppPrefs() override;
    short GetAppStatus() override;
    bool IsUseSlipper() override;
    void SetRedialMode(bool redial) override;
    bool Authorization() override;
    OSStatus NetworkSetting() override;
    void ClearWebCache() override;
    bool IsSystemSettingsRunning() override;
    bool IsCacheBrowserRunning() override;
    long GetDialupError() override;
};
