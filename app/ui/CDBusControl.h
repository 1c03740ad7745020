// Control of the running application from other programs: org.kavanti.Kavanti1 on the session
// bus. Every method acts through the window's own controls (found by their pane ID) so that a
// script gets exactly what a click gives; the properties are read from the same panes.
#pragma once

#include <QDBusContext>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QVariantMap>
#include <QWidget>

#include <functional>

struct ModemInformation;

class CDBusControl : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kavanti.Kavanti1")
    Q_PROPERTY(short Status READ Status)
    Q_PROPERTY(short AppStatus READ AppStatus)
    Q_PROPERTY(QString StatusMessage READ StatusMessage)
    Q_PROPERTY(QString RemainingTime READ RemainingTime)
    Q_PROPERTY(QString RemainingTimeCaption READ RemainingTimeCaption)
    Q_PROPERTY(bool ConnectEnabled READ ConnectEnabled)
    Q_PROPERTY(bool DisconnectEnabled READ DisconnectEnabled)
    Q_PROPERTY(bool CancelEnabled READ CancelEnabled)
    Q_PROPERTY(bool RemainingTimeEnabled READ RemainingTimeEnabled)
    Q_PROPERTY(QVariantMap Card READ Card)

public:
    static constexpr const char* kService = "org.kavanti.Kavanti";
    static constexpr const char* kPath = "/org/kavanti/Kavanti";
    static constexpr const char* kInterface = "org.kavanti.Kavanti1";
    static constexpr const char* kErrorInvalidAccount = "org.kavanti.Kavanti1.Error.InvalidAccount";
    // A method whose button is disabled at that moment presses nothing and says so.
    static constexpr const char* kErrorDisabled = "org.kavanti.Kavanti1.Error.Disabled";

    // What only the application knows. Unset: AppStatus follows the last status, Quit ends the
    // event loop, and the account check is the dial-up panel's rule on its two fields.
    struct Hooks {
        std::function<short()> appStatus;   // CApplicationMain::GetAppStatus
        std::function<void()> quit;         // the framework's quit command
        std::function<bool()> accountValid; // the panel's CheckUserName and CheckPassword
    };

    enum class StartResult { Registered, NoBus, Taken };

    // For main(), right after making the QApplication (Qt's D-Bus needs it) and before anything
    // else: when another Kavanti owns the service, asks it to show
    // its window and returns true (this one then exits 0). No session bus: false, and one line
    // on standard error.
    static bool HandOverToRunningInstance();

    CDBusControl(QWidget* window, Hooks hooks = {}, QObject* parent = nullptr);
    ~CDBusControl() override;

    // Exports the object and takes the service name. NoBus: the application runs without the
    // interface (said once on standard error). Taken: another instance won the name meanwhile;
    // it has been asked to show its window.
    StartResult Start();

    // CMainWindow::SetStatus calls this with every code, in order.
    static void NotifyStatus(short code);
    // CMainWindow::SetCardInfo calls this with every measurement.
    static void NotifyCard(const ModemInformation& info);

    short Status() const { return sLastStatus; }
    short AppStatus() const;
    QString StatusMessage() const { return PaneText(kPaneStatusMessage); }
    QString RemainingTime() const { return PaneText(kPaneRemainingTime); }
    QString RemainingTimeCaption() const { return PaneText(kPaneRemainingTimeBox); }
    bool ConnectEnabled() const { return PaneEnabled(kPaneConnect); }
    bool DisconnectEnabled() const { return PaneEnabled(kPaneDisconnect); }
    bool CancelEnabled() const { return PaneEnabled(kPaneCancel); }
    bool RemainingTimeEnabled() const { return PaneEnabled(kPaneRemainingTimeButton); }
    QVariantMap Card() const { return mCard; }

public slots:
    Q_SCRIPTABLE void Connect(bool redial);
    Q_SCRIPTABLE void Disconnect();
    Q_SCRIPTABLE void Cancel();
    Q_SCRIPTABLE void Measure();
    Q_SCRIPTABLE void FetchRemainingTime();
    Q_SCRIPTABLE void ShowWindow();
    Q_SCRIPTABLE void Quit();

signals:
    Q_SCRIPTABLE void StatusChanged(short code);

private:
    enum : int {
        kPaneDisconnect = 1101, kPaneConnect = 1102, kPaneCancel = 1103,
        kPaneUserName = 1112, kPanePassword = 1113,
        kPaneStatusMessage = 1131, kPaneRedial = 1141,
        kPaneRemainingTimeBox = 1150, kPaneRemainingTimeButton = 1151, kPaneRemainingTime = 1152,
        kPaneMeasure = 1301,
    };

    QWidget* Pane(int id) const;
    QString PaneText(int id) const;
    bool PaneEnabled(int id) const;
    bool DefaultAccountValid() const;
    // Presses button `id` once control returns to the event loop, so the caller's reply is
    // not held up by what the command does; an error reply when it is disabled or missing.
    void Press(int id, const char* what);
    void OnStatus(short code);
    void OnCard(const ModemInformation& info);
    QVariantMap Snapshot() const;
    void AnnounceChanges();

    QPointer<QWidget> mWindow;
    Hooks mHooks;
    QVariantMap mCard;
    QVariantMap mAnnounced;
    QTimer mPoll;
    bool mExported = false;

    static CDBusControl* sInstance;
    static short sLastStatus;
};
