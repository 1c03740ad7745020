// The user interface's side of the application's window hooks: the main window, the stop
// alert, the about box and hiding the application (to the tray, or minimised without one).
#pragma once

#include "app/core/CMainWindowIface.h"

#include <QObject>
#include <QPointer>

class CUiHost;
class CMainWindow;
class QSystemTrayIcon;

class CUiFactory : public QObject, public CWindowFactory {
    Q_OBJECT
public:
    explicit CUiFactory(CUiHost* host);
    ~CUiFactory() override;

    CMainWindowIface* CreateMainWindow(KCommander* commander) override;
    void StopAlert(const std::string& title, const std::string& text) override;
    void ShowAboutBox() override;
    void HideApplication() override;

    CMainWindow* MainWindow() const { return mWindow; }
    QSystemTrayIcon* TrayIcon() const { return mTray; }
    // Deletes the main window (it saves its position) at the end of the run.
    void DestroyWindows();

private:
    void ShowFromTray();

    CUiHost* mHost;
    KCommander* mCommander = nullptr;
    QPointer<CMainWindow> mWindow;
    QSystemTrayIcon* mTray = nullptr;
};
