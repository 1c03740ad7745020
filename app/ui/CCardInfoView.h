// The card information panel (1300): the Measure button and the last measurement.
#pragma once

#include "app/ui/CPanel.h"

struct ModemInformation;

class CCardInfoView : public CPanel {
    Q_OBJECT
public:
    static constexpr int kPaneID = 1300;
    static constexpr int32_t kCmdMeasure = 2103;
    static constexpr int kFirstChannel = 1321;
    static constexpr int kFirstLevel = 1331;

    CCardInfoView(CUiHost* host, QWidget* parent = nullptr);

    void SetStatus(const ModemInformation* info);
    void ActivateSelf() override;
    void ListenToMessage(int32_t message, void* param) override;
};
