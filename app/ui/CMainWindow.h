// The main window (1000): tab control over the four panels, status lamp, Apply button and the
// menu bar. The hub between the panels and the application object.
#pragma once

#include "app/core/CMainWindowIface.h"
#include "platform/shell/KBroadcaster.h"
#include "platform/shell/KCommander.h"

#include <QMainWindow>

class CUiHost;
class CAppPrefs;
class CDialupView;
class CAcceleratorView;
class CCardInfoView;
class CConfigView;
class CPanel;

class CMainWindow : public QMainWindow, public CMainWindowIface, public KCommander, public KListener {
    Q_OBJECT
public:
    static constexpr int32_t kMsgApply = 900;
    static constexpr int32_t kMsgQuit = 901;
    static constexpr int32_t kMsgTabs = 0x54414253; // 'TABS'
    static constexpr int32_t kCmdQuit = 10;

    CMainWindow(CUiHost* host, KCommander* commander, QWidget* parent = nullptr);
    // Saves the window position and section 0 of the preferences.
    ~CMainWindow() override;

    // CMainWindowIface
    void SetStatus(short code) override;
    void SetLimitText(const char* text, int32_t length, short traitsID) override;
    void SetCardInfo(const ModemInformation* info) override;
    void GetDialupSetting(Str255& accessPoint, Str255& userName, Str255& password) override;
    bool GetConfigSet(int32_t paneID) override;
    void MovePosition() override;
    void SavePosition() override;
    void Show() override;

    void ListenToMessage(int32_t message, void* param) override;

    void ChangeTab();
    void SaveSettings();
    void SetStatusColor(short pictureID);
    void SetConfigButton(bool enable);
    void OpenErroeAlert(short index);

    int CurrentTab() const { return mCurrentTab; }
    // Selects the panel `paneID` as a click on its tab would.
    void SelectTab(int paneID);
    CDialupView* DialupView() const { return mDialupView; }
    CAcceleratorView* AcceleratorView() const { return mAcceleratorView; }
    CCardInfoView* CardInfoView() const { return mCardInfoView; }
    CConfigView* ConfigView() const { return mConfigView; }
    short LastStatus() const { return mLastStatus; }

signals:
    void AboutRequested();

protected:
    // The window has no close button; a close request from the window manager is the quit
    // command, so the position is saved as at any quit.
    void closeEvent(QCloseEvent* event) override;

private:
    void FinishCreateSelf();
    void Quit();
    CPanel* PanelOf(int paneID) const;

    CUiHost* mHost;
    CAppPrefs* mAppPrefs;
    int mCurrentTab = 1100;
    short mLastStatus = 0;
    bool mQuitting = false;
    CDialupView* mDialupView = nullptr;
    CAcceleratorView* mAcceleratorView = nullptr;
    CCardInfoView* mCardInfoView = nullptr;
    CConfigView* mConfigView = nullptr;
};
