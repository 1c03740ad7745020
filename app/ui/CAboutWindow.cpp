#include "app/ui/CAboutWindow.h"

#include "app/ui/UPanes.h"
#include "ui_999.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

CAboutWindow* CAboutWindow::mAboutWindow = nullptr;

CAboutWindow::CAboutWindow(KCommander* commander, QWidget* parent) : QDialog(parent), KCommander(commander)
{
    Ui::CAboutWindow ui;
    ui.setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(windowFlags() & ~Qt::WindowMinimizeButtonHint & ~Qt::WindowContextHelpButtonHint);
    mAboutWindow = this;
    UPanes::SetPicture(UPanes::Find<QLabel>(this, 128), 128);
    if (auto* v = UPanes::Find<QLabel>(this, 998))
        v->setText(tr("Version %1").arg(QApplication::applicationVersion()));
    for (int id : {1421, 1422}) {
        if (auto* b = UPanes::Find<QToolButton>(this, id)) {
            b->setIcon(QIcon(UPanes::Picture(id, b->iconSize())));
            connect(b, &QToolButton::clicked, this, [this, id] { ListenToMessage(id, nullptr); });
        }
    }
    if (auto* close = UPanes::Find<QPushButton>(this, kMsgClose))
        connect(close, &QPushButton::clicked, this, [this] { ListenToMessage(kMsgClose, nullptr); });
}

CAboutWindow::~CAboutWindow()
{
    if (mAboutWindow == this) mAboutWindow = nullptr;
}

CAboutWindow* CAboutWindow::ShowAboutBox(KCommander* commander)
{
    if (mAboutWindow) {
        if (QApplication::activeWindow() != mAboutWindow) {
            mAboutWindow->raise();
            mAboutWindow->activateWindow();
        }
        return mAboutWindow;
    }
    auto* w = new CAboutWindow(commander);
    w->show();
    return w;
}

void CAboutWindow::ListenToMessage(int32_t message, void*)
{
    switch (message) {
    case kMsgClose: close(); break;
    case 1421: ProcessCommand(kCmdOpenMail); break;
    case 1422: ProcessCommand(kCmdOpenWeb); break;
    default: break;
    }
}
