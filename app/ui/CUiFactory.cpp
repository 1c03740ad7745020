#include "app/ui/CUiFactory.h"

#include "app/ui/CAboutWindow.h"
#include "app/ui/CDialupView.h"
#include "app/ui/CMainWindow.h"
#include "app/ui/UPanes.h"

#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QSystemTrayIcon>

#include <exception>

CUiFactory::CUiFactory(CUiHost* host) : mHost(host) {}

CUiFactory::~CUiFactory()
{
    if (mTray) delete mTray->contextMenu();
    delete mTray;
}

CMainWindowIface* CUiFactory::CreateMainWindow(KCommander* commander)
{
    mCommander = commander;
    try {
        mWindow = new CMainWindow(mHost, commander);
    } catch (const std::exception&) {
        return nullptr;
    }
    connect(mWindow, &CMainWindow::AboutRequested, this, [this] { ShowAboutBox(); });
    return mWindow;
}

void CUiFactory::StopAlert(const std::string& title, const std::string& text)
{
    QMessageBox box(QMessageBox::Critical, QString::fromStdString(title), QString::fromStdString(text), QMessageBox::Ok);
    box.exec();
}

void CUiFactory::ShowAboutBox()
{
    CAboutWindow::ShowAboutBox(mCommander);
}

void CUiFactory::HideApplication()
{
    if (!mWindow) return;
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        mWindow->showMinimized();
        return;
    }
    if (!mTray) {
        mTray = new QSystemTrayIcon;
        auto* menu = new QMenu;
        menu->addAction(tr("Show Kavanti"), this, [this] { ShowFromTray(); });
        menu->addAction(tr("Connect"), this, [this] {
            if (mWindow && mWindow->DialupView()) mWindow->DialupView()->ListenToMessage(1102, nullptr);
        });
        menu->addAction(tr("Disconnect"), this, [this] {
            if (mWindow && mWindow->DialupView()) mWindow->DialupView()->ListenToMessage(1101, nullptr);
        });
        menu->addSeparator();
        menu->addAction(tr("Quit"), this, [this] {
            if (mWindow) mWindow->ListenToMessage(CMainWindow::kMsgQuit, nullptr);
        });
        mTray->setContextMenu(menu);
        mTray->setToolTip(QStringLiteral("Kavanti"));
        connect(mTray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
            if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick) ShowFromTray();
        });
    }
    // The tray shows the status lamp as it is now.
    int lamp = 1001;
    if (QWidget* pane = UPanes::FindWidget(mWindow, 1005)) lamp = UPanes::GetPicture(pane);
    mTray->setIcon(QIcon(UPanes::Picture(lamp ? lamp : 1001, QSize(32, 32))));
    mTray->show();
    mWindow->hide();
}

void CUiFactory::ShowFromTray()
{
    if (mWindow) mWindow->Show();
    if (mTray) mTray->hide();
}

void CUiFactory::DestroyWindows()
{
    delete CAboutWindow::GetAboutWindow();
    delete mWindow.data();
}
