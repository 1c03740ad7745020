#include "app/ui/CConfigView.h"

#include "app/prefs/CAppPrefs.h"
#include "ui_1400.h"

CConfigView::CConfigView(CUiHost* host, QWidget* parent) : CPanel(host, parent)
{
    Ui::CConfigView ui;
    ui.setupUi(this);
    for (int i = 0; i < kBoxCount; ++i)
        SetChecked(kFirstBox + i, mAppPrefs && mAppPrefs->GetAppSet(static_cast<int16_t>(i)));
    LinkControls();
}

bool CConfigView::IsOptionSet(int32_t paneID)
{
    return paneID >= kFirstBox && paneID < kFirstBox + kBoxCount && IsChecked(paneID);
}

void CConfigView::ListenToMessage(int32_t message, void*)
{
    if (message >= kFirstBox && message < kFirstBox + kBoxCount) ConfigChange();
}

void CConfigView::ConfigChange()
{
    bool same = true;
    for (int i = 0; i < kBoxCount; ++i)
        if (IsOptionSet(kFirstBox + i) != (mAppPrefs && mAppPrefs->GetAppSet(static_cast<int16_t>(i)))) same = false;
    SetConfigSaved(same);
}

void CConfigView::SaveSettings()
{
    if (mAppPrefs) {
        for (int i = 0; i < kBoxCount; ++i)
            mAppPrefs->SetAppSet(static_cast<int16_t>(i), IsOptionSet(kFirstBox + i));
        mAppPrefs->SavePreferences(CAppPrefs::kSectionOptions);
    }
    SetConfigSaved(true);
}
