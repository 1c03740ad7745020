// The application object as the configuration updater sees it: a card port, a model name, the
// Slipper flag and the preferences, all set by the test.
#pragma once

#include "app/netconfig/CSysConfigHost.h"
#include "app/prefs/CAppPrefs.h"

#include <optional>
#include <string>

class FakeSysConfigHost : public CSysConfigHost {
public:
    std::string deviceName = "pccard-modem";
    std::optional<std::string> modelName;
    bool useSlipper = false;
    bool hasPrefs = true;
    CAppPrefs prefs;

    FakeSysConfigHost()
    {
        const Str255 ap = Str255::From("0570570711"), user = Str255::From("user@example"), pw = Str255::From("ppp-pw");
        prefs.SetAccessPoint(&ap);
        prefs.SetUserName(&user);
        prefs.SetPassword(&pw);
        prefs.SetLinkMode(1);
        prefs.SetWebProxy(1);
    }
    void SetPassword(const std::string& p)
    {
        const Str255 s = Str255::From(p);
        prefs.SetPassword(&s);
    }

    char* GetAppDeviceName(char* dest) override
    {
        if (deviceName.empty()) return nullptr;
        CopyCString(dest, 32, deviceName);
        return dest;
    }
    Str255* GetAppModemName(Str255* dest) override
    {
        if (!modelName) return nullptr;
        if (dest) dest->Assign(*modelName);
        return dest;
    }
    bool IsUseSlipper() override { return useSlipper; }
    const CAppPrefs* GetAppPrefs() override { return hasPrefs ? &prefs : nullptr; }
};
