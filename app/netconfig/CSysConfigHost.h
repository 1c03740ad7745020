// What the configuration updater needs of the application object: the card's identity and the
// user's preferences. app/netconfig sits below app/core, so CApplicationMain implements this and
// hands itself to CSysConfig::SetHost at start-up.
#pragma once

#include "platform/cf/PText.h"

class CAppPrefs;

class CSysConfigHost {
public:
    virtual ~CSysConfigHost() = default;

    // The device name of the card's port (at most 31 characters) into `dest` (at least 32
    // bytes); returns `dest`, or nullptr when no port is known.
    virtual char* GetAppDeviceName(char* dest) = 0;
    // The card's model name into `dest` (when given); nullptr when no model is known.
    virtual Str255* GetAppModemName(Str255* dest) = 0;
    // The card is the USB "SUNTAC Slipper" adapter.
    virtual bool IsUseSlipper() = 0;
    // The loaded preferences; nullptr before they are loaded.
    virtual const CAppPrefs* GetAppPrefs() = 0;
};
