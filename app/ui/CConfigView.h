// The options panel (1400): seven check boxes for what happens around connecting.
#pragma once

#include "app/ui/CPanel.h"

class CConfigView : public CPanel {
    Q_OBJECT
public:
    static constexpr int kPaneID = 1400;
    static constexpr int kFirstBox = 1411;
    static constexpr int kBoxCount = 7;

    CConfigView(CUiHost* host, QWidget* parent = nullptr);

    bool IsAutConnect() { return IsChecked(1411); }
    bool IsAutoMeasurement() { return IsChecked(1412); }
    bool IsLaunchBrowser() { return IsChecked(1413); }
    bool IsLaunchMail() { return IsChecked(1414); }
    bool IsChangeProxy() { return IsChecked(1415); }
    bool IsHideApplication() { return IsChecked(1416); }
    bool IsGetLimitTime() { return IsChecked(1417); }
    // The query of box `paneID` (1411 to 1417); false for any other ID.
    bool IsOptionSet(int32_t paneID);

    void SaveSettings() override;
    void ConfigChange() override;
    void ListenToMessage(int32_t message, void* param) override;
};
