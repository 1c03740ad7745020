// The about window (999): at most one at a time; its two pictures ask the application to open
// the author's mail and web addresses.
#pragma once

#include "platform/shell/KBroadcaster.h"
#include "platform/shell/KCommander.h"

#include <QDialog>

class CAboutWindow : public QDialog, public KCommander, public KListener {
    Q_OBJECT
public:
    static constexpr int32_t kMsgClose = 4;
    static constexpr int32_t kCmdOpenMail = 2106;
    static constexpr int32_t kCmdOpenWeb = 2107;

    explicit CAboutWindow(KCommander* commander, QWidget* parent = nullptr);
    ~CAboutWindow() override;

    static CAboutWindow* GetAboutWindow() { return mAboutWindow; }
    // The about command: brings the open window to the front, or makes and shows a new one.
    static CAboutWindow* ShowAboutBox(KCommander* commander);

    void ListenToMessage(int32_t message, void* param) override;

private:
    static CAboutWindow* mAboutWindow;
};
