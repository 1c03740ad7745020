// The administrator credentials dialog (1500), as the configuration layer's prompt.
#pragma once

#include "app/netconfig/CAuthPrompt.h"

#include <QDialog>

class CAuthDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int32_t kMsgOK = 900;
    static constexpr int32_t kMsgCancel = 901;

    explicit CAuthDialog(QWidget* parent = nullptr);
    void SetUserName(const QString& name);
    QString UserName() const;
    QString Password() const;
    // OK only closes the dialog with a password sudo can read (it ends a line at CR or LF).
    void ListenToMessage(int32_t message);
};

// The prompt the configuration layer calls: one modal dialog per request.
class CAuthPromptDialog : public CAuthPrompt {
public:
    bool AskCredentials(std::string& userName, std::string& password) override;
};
