#include "app/ui/CCardInfoView.h"

#include "app/card/CModemInfo.h"
#include "app/ui/CUiHost.h"
#include "ui_1300.h"

#include <QLabel>
#include <QPushButton>

namespace {
constexpr int kMeasure = 1301, kMessage = 1302;
constexpr int kAppMeasuring = 1, kAppConnected = 2, kAppNoCard = -1;
constexpr int kLitChannel = 1002, kDarkChannel = 1001;
} // namespace

CCardInfoView::CCardInfoView(CUiHost* host, QWidget* parent) : CPanel(host, parent)
{
    Ui::CCardInfoView ui;
    ui.setupUi(this);
    for (int i = 0; QWidget* p = Pane<QLabel>(kFirstChannel + i); ++i) UPanes::SetPicture(p, kDarkChannel);
    for (int i = 0; i < kIntensityCount; ++i) UPanes::SetPicture(Pane<QLabel>(kFirstLevel + i), 1010);
    LinkControls();
}

void CCardInfoView::ListenToMessage(int32_t message, void*)
{
    if (message != kMeasure) return;
    if (auto* b = Pane<QPushButton>(kMeasure)) b->setEnabled(false);
    ProcessCommand(kCmdMeasure);
    // A measurement the application did not start (the port stayed busy) would otherwise leave
    // the button off for good: no result will come to turn it on again.
    if (mHost && mHost->GetAppStatus() != kAppMeasuring)
        if (auto* b = Pane<QPushButton>(kMeasure)) b->setEnabled(true);
}

void CCardInfoView::SetStatus(const ModemInformation* info)
{
    if (!info) return;
    if (auto* l = Pane<QLabel>(1311)) l->setText(UPanes::FromStr255(info->modemName));
    if (auto* l = Pane<QLabel>(1312)) l->setText(UPanes::FromStr255(info->phsNo));
    if (auto* l = Pane<QLabel>(1313)) l->setText(UPanes::FromStr255(info->firmwareVersion));
    // Every icon shows this measurement: lit up to the channel count, dark after it.
    for (int i = 0; QLabel* p = Pane<QLabel>(kFirstChannel + i); ++i) {
        p->hide();
        UPanes::SetPicture(p, i < info->channel ? kLitChannel : kDarkChannel);
        p->show();
    }
    for (int i = 0; i < kIntensityCount; ++i) {
        if (QLabel* p = Pane<QLabel>(kFirstLevel + i)) {
            const int level = info->intensity[i] < 0 ? 0 : (info->intensity[i] > 5 ? 5 : info->intensity[i]);
            p->hide();
            UPanes::SetPicture(p, 1010 + level);
            p->show();
        }
    }
    if (auto* b = Pane<QPushButton>(kMeasure)) b->setEnabled(true);
    ActivateSelf();
}

void CCardInfoView::ActivateSelf()
{
    auto* message = Pane<QLabel>(kMessage);
    auto* button = Pane<QPushButton>(kMeasure);
    if (message) message->hide();
    if (button) button->hide();
    const short status = mHost ? mHost->GetAppStatus() : 0;
    if (status == kAppConnected || status == kAppNoCard) {
        if (message) {
            message->setText(UPanes::GetIndString(1300, status == kAppConnected ? 1 : 2));
            message->show();
        }
    } else if (button) {
        button->show();
    }
}
