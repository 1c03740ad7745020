// The accelerator panel (1200): one of three accelerating proxy servers or none, and a one-shot
// request to delete the browser's cache.
#pragma once

#include "app/ui/CPanel.h"

class CAcceleratorView : public CPanel {
    Q_OBJECT
public:
    static constexpr int kPaneID = 1200;
    static constexpr int32_t kCmdRestartBrowser = 2105;

    CAcceleratorView(CUiHost* host, QWidget* parent = nullptr);

    bool IsProxyServerA() { return IsChecked(1211); }
    bool IsProxyServerB() { return IsChecked(1212); }
    bool IsProxyServerC() { return IsChecked(1213); }
    bool IsProxyNotUsed() { return IsChecked(1214); }
    bool IsClearCaches() { return IsChecked(1221); }
    // 1 to 3 for a server, 4 for none, 0 when no button is on.
    int16_t PanelChoice();

    void SaveSettings() override;
    void ConfigChange() override;
    void ListenToMessage(int32_t message, void* param) override;
};
