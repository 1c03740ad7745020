#include "app/ui/CPanel.h"

#include "app/ui/CUiHost.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>

CPanel::CPanel(CUiHost* host, QWidget* parent)
    : QWidget(parent), mHost(host), mAppPrefs(host ? host->GetAppPrefs() : nullptr)
{
}

void CPanel::LinkControls()
{
    for (QWidget* w : findChildren<QWidget*>()) {
        const int id = UPanes::PaneID(w);
        if (id == 0) continue;
        if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            if (b->isCheckable())
                connect(b, &QAbstractButton::toggled, this, [this, id, b] { ListenToMessage(id, b); });
            else
                connect(b, &QAbstractButton::clicked, this, [this, id, b] { ListenToMessage(id, b); });
        } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
            connect(e, &QLineEdit::textEdited, this, [this, id, e] { ListenToMessage(id, e); });
        }
    }
}

bool CPanel::IsChecked(int id)
{
    auto* b = Pane<QAbstractButton>(id);
    return b && b->isChecked();
}

void CPanel::SetChecked(int id, bool on)
{
    if (auto* b = Pane<QAbstractButton>(id)) b->setChecked(on);
}

void CPanel::SetConfigSaved(bool saved)
{
    mIsConfigSaved = saved;
    BroadcastMessage(saved ? kMsgSaved : kMsgChanged);
}
