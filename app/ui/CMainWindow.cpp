#include "app/ui/CMainWindow.h"

#include "app/prefs/CAppPrefs.h"
#include "app/ui/CAcceleratorView.h"
#include "app/ui/CCardInfoView.h"
#include "app/ui/CConfigView.h"
#include "app/ui/CDBusControl.h"
#include "app/ui/CDialupView.h"
#include "app/ui/CUiHost.h"
#include "app/ui/UPanes.h"
#include "platform/launch/KNotify.h"
#include "platform/shell/KEventLoop.h"
#include "ui_1000.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTabBar>

#include <stdexcept>

namespace {
constexpr int kApply = 1001, kTabControl = 1003, kPanels = 1004, kLamp = 1005, kStatusMessage = 1131;
constexpr short kAppConnected = 2, kAppNoCard = -1;
} // namespace

CMainWindow::CMainWindow(CUiHost* host, KCommander* commander, QWidget* parent)
    : QMainWindow(parent), KCommander(commander), mHost(host), mAppPrefs(host ? host->GetAppPrefs() : nullptr)
{
    // No close button: the window goes away only when the application quits.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint);
    Ui::CMainWindow ui;
    ui.setupUi(this);
    connect(ui.actionAbout, &QAction::triggered, this, &CMainWindow::AboutRequested);
    connect(ui.actionQuit, &QAction::triggered, this, [this] { ListenToMessage(kMsgQuit, nullptr); });
    FinishCreateSelf();
}

CMainWindow::~CMainWindow()
{
    SavePosition();
}

void CMainWindow::FinishCreateSelf()
{
    if (auto* apply = UPanes::Find<QPushButton>(this, kApply))
        connect(apply, &QPushButton::clicked, this, [this] { ListenToMessage(kMsgApply, nullptr); });

    auto* stack = UPanes::Find<QStackedWidget>(this, kPanels);
    if (!stack) throw std::runtime_error("main window layout has no panel view 1004");
    mDialupView = new CDialupView(mHost, stack);
    mAcceleratorView = new CAcceleratorView(mHost, stack);
    mCardInfoView = new CCardInfoView(mHost, stack);
    mConfigView = new CConfigView(mHost, stack);
    auto* tabs = UPanes::Find<QTabBar>(this, kTabControl);
    for (CPanel* panel : {static_cast<CPanel*>(mDialupView), static_cast<CPanel*>(mAcceleratorView),
                          static_cast<CPanel*>(mCardInfoView), static_cast<CPanel*>(mConfigView)}) {
        stack->addWidget(panel);
        if (tabs) tabs->addTab(panel->windowTitle());
        panel->SetSuperCommander(this);
        panel->AddListener(this);
    }
    if (tabs)
        connect(tabs, &QTabBar::currentChanged, this, [this, stack](int index) {
            stack->setCurrentIndex(index);
            ListenToMessage(kMsgTabs, nullptr);
        });
    SetStatusColor(1001);
}

CPanel* CMainWindow::PanelOf(int paneID) const
{
    switch (paneID) {
    case 1100: return mDialupView;
    case 1200: return mAcceleratorView;
    case 1300: return mCardInfoView;
    case 1400: return mConfigView;
    default: return nullptr;
    }
}

void CMainWindow::SelectTab(int paneID)
{
    auto* tabs = UPanes::Find<QTabBar>(this, kTabControl);
    const int index = (paneID - 1100) / 100;
    if (tabs && index >= 0 && index < tabs->count()) tabs->setCurrentIndex(index);
}

void CMainWindow::ListenToMessage(int32_t message, void* param)
{
    switch (message) {
    case kMsgApply: SaveSettings(); break;
    case kMsgQuit: Quit(); break;
    case CPanel::kMsgSaved: SetConfigButton(false); break;
    case CPanel::kMsgChanged: SetConfigButton(true); break;
    case CPanel::kMsgCaution: OpenErroeAlert(static_cast<short>(reinterpret_cast<intptr_t>(param))); break;
    case kMsgTabs: ChangeTab(); break;
    default: break;
    }
}

void CMainWindow::SetStatus(short code)
{
    mLastStatus = code;
    switch (code) {
    case 0: case 9: SetStatusColor(1001); break;
    case 1: SetStatusColor(1004); break;
    case 2: SetStatusColor(1003); break;
    case 3: case 7: SetStatusColor(1002); break;
    default: break;
    }
    if (mDialupView) mDialupView->SetStatus(code);
    // In the tray or minimised the lamp is not seen: the desktop tells of the link instead.
    const bool hidden = !isVisible() || isMinimized();
    if (hidden && (code == 2 || code == 9 || code == 0)) {
        const auto* message = UPanes::Find<QLabel>(this, kStatusMessage);
        KNotify::LinkStatusChanged(code, hidden, message ? message->text().toStdString() : std::string());
    }
    CDBusControl::NotifyStatus(code);
}

void CMainWindow::SetStatusColor(short pictureID)
{
    if (auto* lamp = UPanes::Find<QLabel>(this, kLamp)) {
        lamp->hide();
        UPanes::SetPicture(lamp, pictureID);
        lamp->show();
    }
}

void CMainWindow::SetLimitText(const char* text, int32_t length, short traitsID)
{
    if (mDialupView) mDialupView->SetLimitText(text, length, traitsID);
}

void CMainWindow::SetCardInfo(const ModemInformation* info)
{
    if (mCardInfoView) mCardInfoView->SetStatus(info);
    if (info) CDBusControl::NotifyCard(*info);
}

void CMainWindow::GetDialupSetting(Str255& accessPoint, Str255& userName, Str255& password)
{
    if (mDialupView) mDialupView->GetDialupSetting(&accessPoint, &userName, &password);
}

bool CMainWindow::GetConfigSet(int32_t paneID)
{
    return mConfigView && mConfigView->IsOptionSet(paneID);
}

void CMainWindow::SetConfigButton(bool enable)
{
    if (auto* apply = UPanes::Find<QPushButton>(this, kApply)) apply->setEnabled(enable);
}

void CMainWindow::ChangeTab()
{
    auto* stack = UPanes::Find<QStackedWidget>(this, kPanels);
    if (!stack || !stack->currentWidget()) return;
    mCurrentTab = UPanes::PaneID(stack->currentWidget());
    if (mCurrentTab == 1300) {
        SetConfigButton(false);
        if (mCardInfoView) mCardInfoView->ActivateSelf();
    } else if (CPanel* panel = PanelOf(mCurrentTab)) {
        SetConfigButton(!panel->IsConfigSaved());
    }
}

void CMainWindow::SaveSettings()
{
    if (mCurrentTab == 1100 || mCurrentTab == 1200) {
        const short status = mHost ? mHost->GetAppStatus() : 0;
        if (status == kAppConnected) return OpenErroeAlert(5);
        if (status == kAppNoCard) return OpenErroeAlert(7);
        if (mHost && mHost->IsSystemSettingsRunning()) return OpenErroeAlert(6);
    }
    switch (mCurrentTab) {
    case 1100:
        if (!mDialupView) return;
        if (!mDialupView->UserNameValid()) OpenErroeAlert(3);
        else if (!mDialupView->PasswordValid()) OpenErroeAlert(4);
        else mDialupView->SaveSettings();
        break;
    case 1200:
        if (!mAcceleratorView) return;
        if (mAcceleratorView->IsClearCaches() && mHost && mHost->IsCacheBrowserRunning()) OpenErroeAlert(8);
        else mAcceleratorView->SaveSettings();
        break;
    case 1400:
        if (mConfigView) mConfigView->SaveSettings();
        break;
    default: break;
    }
}

void CMainWindow::OpenErroeAlert(short index)
{
    const QString text = UPanes::GetIndString(1000, index);
    if (text.isEmpty()) return;
    auto* box = new QMessageBox(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
    box->setObjectName("caution");
    box->setProperty("cautionIndex", static_cast<int>(index));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->open();
}

void CMainWindow::MovePosition()
{
    if (!mAppPrefs) return;
    Point16 p;
    mAppPrefs->GetWindowPosition(p);
    const QPoint point(p.h, p.v);
    for (QScreen* screen : QGuiApplication::screens()) {
        if (screen->availableGeometry().contains(point)) {
            move(point); // a top-level widget's pos() is its frame's top-left
            return;
        }
    }
}

void CMainWindow::SavePosition()
{
    if (!mAppPrefs) return;
    const QPoint frame = pos();
    Point16 p;
    p.h = static_cast<int16_t>(frame.x());
    p.v = static_cast<int16_t>(frame.y());
    mAppPrefs->SetWindowPosition(p);
    mAppPrefs->SavePreferences(CAppPrefs::kSectionWindow);
}

void CMainWindow::Show()
{
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
}

void CMainWindow::Quit()
{
    // Without an application shell above (nobody takes the command) the loop still ends.
    if (!ProcessCommand(kCmdQuit)) KEventLoop::Quit(0);
}

void CMainWindow::closeEvent(QCloseEvent* event)
{
    // The window stays until the application deletes it at the end of the run.
    event->ignore();
    if (mQuitting) return;
    mQuitting = true;
    Quit();
    mQuitting = false;
}
