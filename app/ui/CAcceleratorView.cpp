#include "app/ui/CAcceleratorView.h"

#include "app/prefs/CAppPrefs.h"
#include "app/ui/CUiHost.h"
#include "ui_1200.h"

CAcceleratorView::CAcceleratorView(CUiHost* host, QWidget* parent) : CPanel(host, parent)
{
    Ui::CAcceleratorView ui;
    ui.setupUi(this);
    const int16_t stored = mAppPrefs ? mAppPrefs->GetWebProxy() : 0;
    for (int i = 1; i <= 4; ++i)
        if (stored == i) SetChecked(1210 + i, true);
    LinkControls();
}

int16_t CAcceleratorView::PanelChoice()
{
    int16_t choice = 0;
    if (IsProxyServerA()) choice = 1;
    if (IsProxyServerB()) choice = 2;
    if (IsProxyServerC()) choice = 3;
    if (IsProxyNotUsed()) choice = 4;
    return choice;
}

void CAcceleratorView::ListenToMessage(int32_t message, void*)
{
    if ((message >= 1211 && message <= 1214) || message == 1221) ConfigChange();
}

void CAcceleratorView::ConfigChange()
{
    const int16_t stored = mAppPrefs ? mAppPrefs->GetWebProxy() : 0;
    SetConfigSaved(!IsClearCaches() && PanelChoice() == stored);
}

void CAcceleratorView::SaveSettings()
{
    if (!mHost || !mAppPrefs) return;
    if (!mHost->Authorization()) return;
    if (IsClearCaches()) {
        mHost->ClearWebCache();
        // Turning the box off must not be taken for a user's change.
        const QSignalBlocker block(Pane<QWidget>(1221));
        SetChecked(1221, false);
    }
    const int16_t choice = PanelChoice();
    if (choice != mAppPrefs->GetWebProxy()) {
        mAppPrefs->SetWebProxy(choice);
        mAppPrefs->SavePreferences(CAppPrefs::kSectionAccelerator);
        mHost->NetworkSetting();
        ProcessCommand(kCmdRestartBrowser);
    }
    SetConfigSaved(true);
}
