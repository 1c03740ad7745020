// What the four panels share: a widget built from its layout that is a commander (its commands
// go up to the window and the application), a broadcaster (to the window) and a listener of its
// own controls, whose message is their pane ID.
#pragma once

#include "app/ui/UPanes.h"
#include "platform/shell/KBroadcaster.h"
#include "platform/shell/KCommander.h"

#include <QWidget>

class CUiHost;
class CAppPrefs;

class CPanel : public QWidget, public KCommander, public KBroadcaster, public KListener {
    Q_OBJECT
public:
    static constexpr int32_t kMsgSaved = 2000;
    static constexpr int32_t kMsgChanged = 2001;
    static constexpr int32_t kMsgCaution = 2002;

    CPanel(CUiHost* host, QWidget* parent);

    virtual void ActivateSelf() {}
    virtual void SaveSettings() {}
    virtual void ConfigChange() {}
    bool IsConfigSaved() const { return mIsConfigSaved; }

    template <class T>
    T* Pane(int id) { return UPanes::Find<T>(this, id); }

protected:
    // Connects every control carrying a pane ID to ListenToMessage: buttons when clicked, check
    // boxes and radio buttons when they change, edit fields when the user edits them (the
    // parameter is then the field).
    void LinkControls();
    bool IsChecked(int id);
    void SetChecked(int id, bool on);
    // Broadcasts 2000 or 2001 and records the state.
    void SetConfigSaved(bool saved);

    CUiHost* mHost;
    CAppPrefs* mAppPrefs;
    bool mIsConfigSaved = true;
};
