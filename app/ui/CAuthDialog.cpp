#include "app/ui/CAuthDialog.h"

#include "app/ui/UPanes.h"
#include "ui_1500.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

CAuthDialog::CAuthDialog(QWidget* parent) : QDialog(parent)
{
    Ui::CAuthDialog ui;
    ui.setupUi(this);
    setModal(true);
    for (int id : {kMsgOK, kMsgCancel})
        if (auto* b = UPanes::Find<QPushButton>(this, id))
            connect(b, &QPushButton::clicked, this, [this, id] { ListenToMessage(id); });
}

void CAuthDialog::SetUserName(const QString& name)
{
    if (auto* e = UPanes::Find<QLineEdit>(this, 3)) e->setText(name);
    if (auto* e = UPanes::Find<QLineEdit>(this, 4)) e->setFocus();
}

QString CAuthDialog::UserName() const
{
    auto* e = UPanes::Find<QLineEdit>(const_cast<CAuthDialog*>(this), 3);
    return e ? e->text() : QString();
}

QString CAuthDialog::Password() const
{
    auto* e = UPanes::Find<QLineEdit>(const_cast<CAuthDialog*>(this), 4);
    return e ? e->text() : QString();
}

void CAuthDialog::ListenToMessage(int32_t message)
{
    if (message == kMsgCancel) {
        reject();
    } else if (message == kMsgOK) {
        const QString pw = Password();
        if (pw.contains('\n') || pw.contains('\r')) {
            if (auto* l = UPanes::Find<QLabel>(this, 5)) {
                l->setText(tr("This password holds a line break, which sudo cannot read. Type it without one."));
                l->show();
            }
            return;
        }
        accept();
    }
}

bool CAuthPromptDialog::AskCredentials(std::string& userName, std::string& password)
{
    CAuthDialog dialog(QApplication::activeWindow());
    dialog.SetUserName(QString::fromStdString(userName));
    if (dialog.exec() != QDialog::Accepted) return false;
    userName = dialog.UserName().toStdString();
    password = dialog.Password().toStdString();
    return true;
}
