// What the application object needs of its main window. The core sits below the user interface,
// so it drives the window only through this interface; app/ui's CMainWindow implements it and
// registers a factory that makes it.
#pragma once

#include "platform/cf/PText.h"

#include <cstdint>
#include <string>

class KCommander;
struct ModemInformation;

class CMainWindowIface {
public:
    virtual ~CMainWindowIface() = default;

    // Status lamp and dial-up panel; `code` is an application or dial-up status.
    virtual void SetStatus(short code) = 0;
    // Remaining-time text with its text traits (132 stored or failed, 133 fresh).
    virtual void SetLimitText(const char* text, int32_t length, short traitsID) = 0;
    // The last measurement, for the card information panel.
    virtual void SetCardInfo(const ModemInformation* info) = 0;
    // The dial-up panel's access point (with its link-mode suffix), user name and password.
    virtual void GetDialupSetting(Str255& accessPoint, Str255& userName, Str255& password) = 0;
    // State of one options check box (1411 to 1417); false for any other ID.
    virtual bool GetConfigSet(int32_t paneID) = 0;
    // Moves the window to the saved position; SavePosition stores it and writes the preferences.
    virtual void MovePosition() = 0;
    virtual void SavePosition() = 0;
    // Shows the window and brings it to the front.
    virtual void Show() = 0;
};

// The hooks the core calls for things only the user interface (or the desktop layer) can do.
// A hook left unset does nothing.
class CWindowFactory {
public:
    virtual ~CWindowFactory() = default;
    // Makes the main window with `commander` as its supercommander; null when it cannot.
    virtual CMainWindowIface* CreateMainWindow(KCommander* commander) = 0;
    // A stop alert at start-up (before or without a main window).
    virtual void StopAlert(const std::string& title, const std::string& text) = 0;
    // The about window: created once, brought to the front afterwards.
    virtual void ShowAboutBox() = 0;
    // After-connect action "hide the application".
    virtual void HideApplication() = 0;
};

// app/ui registers its factory before the application object starts up.
void RegisterWindowFactory(CWindowFactory* factory);
CWindowFactory* GetWindowFactory();
