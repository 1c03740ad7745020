#include "app/ui/CDialupView.h"

#include "app/prefs/CAppPrefs.h"
#include "app/ui/CUiHost.h"
#include "platform/ppp/KPPPPppd.h"
#include "ui_1100.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <cstring>

namespace {
constexpr int kDisconnect = 1101, kConnect = 1102, kCancel = 1103;
constexpr int kAccessPoint = 1111, kUserName = 1112, kPassword = 1113;
constexpr int kLinkMode1 = 1121, kLinkMode4 = 1122;
constexpr int kMessage = 1131, kRedial = 1141, kCCLOption = 1142;
constexpr int kLimitBox = 1150, kLimitButton = 1151, kLimitText = 1152;

// The statuses' messages in string list 1100; 0 for "message unchanged".
int MessageIndex(short code)
{
    switch (code) {
    case -5: return 10;
    case -2: return 8;
    case -1: return 7;
    case 0: return 1;
    case 2: return 5;
    case 3: return 3;
    case 4: return 2;
    case 6: return 4;
    case 7: return 6;
    case 9: return 9;
    default: return 0;
    }
}
} // namespace

CDialupView::CDialupView(CUiHost* host, QWidget* parent) : CPanel(host, parent)
{
    Ui::CDialupView ui;
    ui.setupUi(this);
    FinishCreateSelf();
}

CDialupView::~CDialupView() = default;

void CDialupView::FinishCreateSelf()
{
    if (mAppPrefs) {
        if (auto* l = Pane<QLabel>(kAccessPoint)) l->setText(UPanes::FromStr255(mAppPrefs->GetAccessPoint()));
        if (auto* e = Pane<QLineEdit>(kUserName)) e->setText(UPanes::FromStr255(mAppPrefs->GetUserName()));
        if (auto* e = Pane<QLineEdit>(kPassword)) e->setText(UPanes::FromStr255(mAppPrefs->GetPassword()));
        const int16_t mode = mAppPrefs->GetLinkMode();
        SetChecked(kLinkMode1, mode == 1);
        SetChecked(kLinkMode4, mode == 4);
        if (mHost && mHost->IsUseSlipper()) {
            // The group box's layout makes room for the box; no pane is resized by hand.
            SetChecked(kCCLOption, mAppPrefs->GetCCLOption());
            if (auto* b = Pane<QCheckBox>(kCCLOption)) b->setVisible(true);
        }
    }
    LinkControls();
}

void CDialupView::ListenToMessage(int32_t message, void* param)
{
    switch (message) {
    case kDisconnect: ProcessCommand(kCmdDisconnect); break;
    case kConnect:
        if (!CheckUserName())
            BroadcastMessage(kMsgCaution, reinterpret_cast<void*>(intptr_t{3}));
        else if (!CheckPassword())
            BroadcastMessage(kMsgCaution, reinterpret_cast<void*>(intptr_t{4}));
        else {
            if (mHost) mHost->SetRedialMode(GetRedialMode());
            ProcessCommand(kCmdConnect);
        }
        break;
    case kCancel: ProcessCommand(kCmdCancel); break;
    case kUserName:
    case kPassword:
        if (param) InputFilter(static_cast<QLineEdit*>(param));
        ConfigChange();
        break;
    case kLinkMode1:
    case kLinkMode4:
    case kCCLOption: ConfigChange(); break;
    case kLimitButton: ProcessCommand(kCmdFetchLimit); break;
    default: break;
    }
}

void CDialupView::InputFilter(QLineEdit* field)
{
    if (!field) return;
    const QString text = field->text();
    const QString kept = UPanes::SingleByteOnly(text);
    if (kept == text) return;
    UPanes::Beep();
    // Keep the cursor where the user was typing, less what was removed before it.
    const int cursor = field->cursorPosition();
    const int removedBefore = static_cast<int>(text.left(cursor).size() - UPanes::SingleByteOnly(text.left(cursor)).size());
    field->setText(kept);
    field->setCursorPosition(cursor - removedBefore);
}

bool CDialupView::CheckLength(int id)
{
    auto* e = Pane<QLineEdit>(id);
    if (!e) return true;
    // After the input filter every character is one byte in the system encoding.
    const qsizetype n = e->text().size();
    return n >= 2 && n <= 30;
}

bool CDialupView::CheckUserName() { return CheckLength(kUserName); }
bool CDialupView::CheckPassword() { return CheckLength(kPassword); }

void CDialupView::ConfigChange()
{
    bool same = true;
    if (mAppPrefs) {
        same = GetUserName() == UPanes::FromStr255(mAppPrefs->GetUserName())
            && GetPassword() == UPanes::FromStr255(mAppPrefs->GetPassword())
            && GetLinkMode() == mAppPrefs->GetLinkMode();
        if (same && mHost && mHost->IsUseSlipper()) same = GetCCLOption() == mAppPrefs->GetCCLOption();
    }
    SetConfigSaved(same);
}

void CDialupView::SaveSettings()
{
    if (!mHost || !mAppPrefs) return;
    if (!mHost->Authorization()) return;
    const Str255 ap = UPanes::ToStr255(GetAccessPoint());
    const Str255 user = UPanes::ToStr255(GetUserName());
    const Str255 pass = UPanes::ToStr255(GetPassword());
    mAppPrefs->SetAccessPoint(&ap);
    mAppPrefs->SetUserName(&user);
    mAppPrefs->SetPassword(&pass);
    mAppPrefs->SetLinkMode(GetLinkMode());
    if (mHost->IsUseSlipper()) mAppPrefs->SetCCLOption(GetCCLOption());
    mAppPrefs->SavePreferences(CAppPrefs::kSectionConnection);
    mHost->NetworkSetting();
    SetConfigSaved(true);
}

QString CDialupView::GetAccessPoint()
{
    auto* l = Pane<QLabel>(kAccessPoint);
    return l ? l->text() : QString();
}

QString CDialupView::GetUserName()
{
    auto* e = Pane<QLineEdit>(kUserName);
    return e ? e->text() : QString();
}

QString CDialupView::GetPassword()
{
    auto* e = Pane<QLineEdit>(kPassword);
    return e ? e->text() : QString();
}

short CDialupView::GetLinkMode() { return IsChecked(kLinkMode1) ? 1 : 4; }
bool CDialupView::GetCCLOption() { return IsChecked(kCCLOption); }
bool CDialupView::GetRedialMode() { return IsChecked(kRedial); }

void CDialupView::GetDialupSetting(Str255* accessPoint, Str255* userName, Str255* password)
{
    if (accessPoint) {
        // The suffix always fits: the access point is cut to leave room for it.
        Str255 ap = UPanes::ToStr255(GetAccessPoint());
        // "##64" only when mode 4 is chosen: with neither button on (a stored mode that is
        // neither 1 nor 4) the call goes out in mode 1.
        const std::string_view suffix = IsChecked(kLinkMode4) ? "##64" : "##61";
        std::string text(ap.View().substr(0, 251));
        text += suffix;
        accessPoint->Assign(text);
    }
    if (userName) *userName = UPanes::ToStr255(GetUserName());
    if (password) *password = UPanes::ToStr255(GetPassword());
}

void CDialupView::SetStatusMessage(const QString& text)
{
    if (auto* l = Pane<QLabel>(kMessage)) {
        l->hide();
        l->setText(text);
        l->show();
    }
}

void CDialupView::SetStatus(short code)
{
    const int index = MessageIndex(code);
    const QString text = index ? UPanes::GetIndString(1100, index) : QString();
    if (!text.isEmpty()) SetStatusMessage(text);
    if (code == 11 && mHost && mHost->GetDialupError() != 0) ShowEndpointFailure(mHost->GetDialupError());
    // A failure that pppd ended with its own exit status says which one, in words.
    if (code == 9 && mHost && mHost->GetDialupError() > 0)
        SetStatusMessage(tr("The connection failed: %1.")
                             .arg(QString::fromStdString(KPPP::ExitStatusText(int(mHost->GetDialupError())))));
    ButtonSetting(code);
}

void CDialupView::ShowEndpointFailure(long error)
{
    if (error == kStatusFileNotFound)
        SetStatusMessage(tr("The PPP link cannot be started: pppd is not installed. Install the package \"ppp\" (sudo apt install ppp), then start Kavanti again."));
    else
        SetStatusMessage(tr("The PPP link cannot be started: pppd or the card's port may not be used by you. Add your user to the group \"dip\" (sudo adduser $USER dip), log in again, then start Kavanti again."));
}

void CDialupView::ButtonSetting(short code)
{
    auto* disconnect = Pane<QPushButton>(kDisconnect);
    auto* connectB = Pane<QPushButton>(kConnect);
    auto* cancel = Pane<QPushButton>(kCancel);
    auto* limit = Pane<QPushButton>(kLimitButton);
    if (!disconnect || !connectB || !cancel || !limit) return;
    const bool redial = GetRedialMode();
    switch (code) {
    case 0:
        cancel->setEnabled(false); connectB->setEnabled(true); disconnect->setEnabled(false); limit->setEnabled(false);
        break;
    case -2: case -1: case 1:
        cancel->setEnabled(false); connectB->setEnabled(false); disconnect->setEnabled(false); limit->setEnabled(false);
        break;
    case 2:
        cancel->setEnabled(false); connectB->setEnabled(false); disconnect->setEnabled(true);
        if (!(mHost && mHost->IsUseSlipper())) limit->setEnabled(true);
        break;
    case 3: case 7:
        cancel->setEnabled(redial); connectB->setEnabled(false); disconnect->setEnabled(false); limit->setEnabled(false);
        break;
    case 9:
        cancel->setEnabled(redial); connectB->setEnabled(!redial); disconnect->setEnabled(false); limit->setEnabled(false);
        break;
    case 10: limit->setEnabled(false); break;
    case 11: limit->setEnabled(true); break;
    default: break;
    }
}

bool CDialupView::IsLimitStringTime(const char* text)
{
    if (!text || !*text) return false;
    const size_t n = std::strlen(text);
    if (n < 8) return true;
    for (size_t i = 0; i < n; ++i)
        if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
    return std::strchr(text, ':') != nullptr;
}

void CDialupView::SetLimitText(const char* text, int32_t length, short traitsID)
{
    const size_t n = (text && length > 0) ? static_cast<size_t>(length) : 0;
    const std::string value(text ? text : "", text ? strnlen(text, n) : 0);
    if (auto* box = Pane<QGroupBox>(kLimitBox))
        box->setTitle(UPanes::GetIndString(1005, IsLimitStringTime(value.c_str()) ? 2 : 1));
    if (auto* l = Pane<QLabel>(kLimitText)) {
        l->hide();
        UPanes::SetTextTraits(l, traitsID);
        // The service's reply is ASCII; anything else is shown as Latin-1 rather than dropped.
        l->setText(QString::fromLatin1(value.data(), static_cast<qsizetype>(value.size())));
        l->show();
    }
}
