// The dial-up panel (1100): account, connect/disconnect/cancel, redial box, status message and
// the remaining time.
#pragma once

#include "app/ui/CPanel.h"

class QLineEdit;

class CDialupView : public CPanel {
    Q_OBJECT
public:
    static constexpr int kPaneID = 1100;
    static constexpr int32_t kCmdConnect = 2100;
    static constexpr int32_t kCmdDisconnect = 2101;
    static constexpr int32_t kCmdCancel = 2102;
    static constexpr int32_t kCmdFetchLimit = 2108;

    CDialupView(CUiHost* host, QWidget* parent = nullptr);
    ~CDialupView() override;

    void SetStatus(short code);
    void SetStatusMessage(const QString& text);
    void ButtonSetting(short code);
    void SetLimitText(const char* text, int32_t length, short traitsID);
    void GetDialupSetting(Str255* accessPoint, Str255* userName, Str255* password);

    QString GetAccessPoint();
    QString GetUserName();
    QString GetPassword();
    short GetLinkMode();
    bool GetCCLOption();
    bool GetRedialMode();
    bool UserNameValid() { return CheckUserName(); }
    bool PasswordValid() { return CheckPassword(); }
    bool CheckUserName();
    bool CheckPassword();
    static bool IsLimitStringTime(const char* text);
    void InputFilter(QLineEdit* field);

    void SaveSettings() override;
    void ConfigChange() override;
    void ListenToMessage(int32_t message, void* param) override;

private:
    void FinishCreateSelf();
    bool CheckLength(int id);
    // Status 11 also reports a PPP endpoint that could not be opened: then the message says why.
    void ShowEndpointFailure(long error);
};
