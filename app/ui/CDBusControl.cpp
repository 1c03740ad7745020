#include "app/ui/CDBusControl.h"

#include "app/card/CModemInfo.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QWidget>

#include <cstdio>

CDBusControl* CDBusControl::sInstance = nullptr;
short CDBusControl::sLastStatus = 0;

namespace {

// The properties announced through PropertiesChanged: everything but Card is read from panes
// that change without telling anyone, so they are compared with what was last announced.
const char* const kPropertyNames[] = {
    "Status", "AppStatus", "StatusMessage", "RemainingTime", "RemainingTimeCaption",
    "ConnectEnabled", "DisconnectEnabled", "CancelEnabled", "RemainingTimeEnabled", "Card",
};

bool gNoBusReported = false;

void ReportNoBus(const QDBusConnection& bus)
{
    if (gNoBusReported) return;
    gNoBusReported = true;
    QString why = bus.lastError().message();
    if (why.isEmpty()) why = QStringLiteral("no session bus");
    std::fprintf(stderr, "kavanti: no D-Bus session bus (%s): running without the %s interface\n",
                 qPrintable(why), CDBusControl::kInterface);
}

QString TextOf(const QWidget* w)
{
    if (auto* label = qobject_cast<const QLabel*>(w)) return label->text();
    if (auto* box = qobject_cast<const QGroupBox*>(w)) return box->title();
    if (auto* edit = qobject_cast<const QLineEdit*>(w)) return edit->text();
    if (auto* button = qobject_cast<const QAbstractButton*>(w)) return button->text();
    return {};
}

// Card texts are what the card answered: plain ASCII in practice, kept byte for byte otherwise.
QString CardText(const Str255& s)
{
    return QString::fromLatin1(s.Data(), s.Length());
}

bool AskToShow(QDBusConnection& bus)
{
    QDBusMessage call = QDBusMessage::createMethodCall(CDBusControl::kService, CDBusControl::kPath,
                                                       CDBusControl::kInterface, QStringLiteral("ShowWindow"));
    const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        std::fprintf(stderr, "kavanti: the running Kavanti did not answer (%s)\n",
                     qPrintable(reply.errorMessage()));
    }
    return true;
}

} // namespace

bool CDBusControl::HandOverToRunningInstance()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        ReportNoBus(bus);
        return false;
    }
    if (!bus.interface()->isServiceRegistered(kService).value()) return false;
    return AskToShow(bus);
}

CDBusControl::CDBusControl(QWidget* window, Hooks hooks, QObject* parent)
    : QObject(parent), mWindow(window), mHooks(std::move(hooks))
{
    qDBusRegisterMetaType<QList<short>>();
    sInstance = this;
    // Texts and enabled states change inside the panels without a signal; a light poll keeps
    // PropertiesChanged following them. Status changes are announced at once (OnStatus).
    mPoll.setInterval(200);
    connect(&mPoll, &QTimer::timeout, this, &CDBusControl::AnnounceChanges);
}

CDBusControl::~CDBusControl()
{
    if (sInstance == this) sInstance = nullptr;
    if (mExported) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterObject(kPath);
        bus.unregisterService(kService);
    }
}

CDBusControl::StartResult CDBusControl::Start()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        ReportNoBus(bus);
        return StartResult::NoBus;
    }
    if (!bus.registerObject(kPath, this,
                            QDBusConnection::ExportScriptableSlots | QDBusConnection::ExportScriptableSignals |
                                QDBusConnection::ExportAllProperties)) {
        std::fprintf(stderr, "kavanti: cannot export %s on the session bus: %s\n", kPath,
                     qPrintable(bus.lastError().message()));
        return StartResult::NoBus;
    }
    if (!bus.registerService(kService)) {
        // Another instance took the name between the hand-over check and now.
        bus.unregisterObject(kPath);
        AskToShow(bus);
        return StartResult::Taken;
    }
    mExported = true;
    mAnnounced = Snapshot();
    mPoll.start();
    return StartResult::Registered;
}

void CDBusControl::NotifyStatus(short code)
{
    sLastStatus = code;
    if (sInstance) sInstance->OnStatus(code);
}

void CDBusControl::NotifyCard(const ModemInformation& info)
{
    if (sInstance) sInstance->OnCard(info);
}

void CDBusControl::OnStatus(short code)
{
    if (!mExported) return;
    emit StatusChanged(code);
    AnnounceChanges();
    // The window may pass the code on to its panels after telling us: look again once it has.
    QTimer::singleShot(0, this, &CDBusControl::AnnounceChanges);
}

void CDBusControl::OnCard(const ModemInformation& info)
{
    QList<short> levels;
    for (int i = 0; i < kIntensityCount; ++i) levels.append(info.intensity[i]);
    QVariantMap card;
    card.insert(QStringLiteral("ModelName"), CardText(info.modemName));
    card.insert(QStringLiteral("PhsNumber"), CardText(info.phsNo));
    card.insert(QStringLiteral("FirmwareVersion"), CardText(info.firmwareVersion));
    card.insert(QStringLiteral("Channel"), QVariant::fromValue<short>(info.channel));
    card.insert(QStringLiteral("Intensity"), QVariant::fromValue(levels));
    mCard = card;
    if (mExported) AnnounceChanges();
}

short CDBusControl::AppStatus() const
{
    return mHooks.appStatus ? mHooks.appStatus() : sLastStatus;
}

QWidget* CDBusControl::Pane(int id) const
{
    if (!mWindow) return nullptr;
    if (mWindow->property("paneID").toInt() == id) return mWindow;
    const auto children = mWindow->findChildren<QWidget*>();
    for (QWidget* w : children) {
        bool ok = false;
        if (w->property("paneID").toInt(&ok) == id && ok) return w;
    }
    return nullptr;
}

QString CDBusControl::PaneText(int id) const
{
    const QWidget* w = Pane(id);
    return w ? TextOf(w) : QString();
}

bool CDBusControl::PaneEnabled(int id) const
{
    const QWidget* w = Pane(id);
    return w && w->isEnabled();
}

bool CDBusControl::DefaultAccountValid() const
{
    // The dial-up panel's rule: a field that is present holds 2 to 30 characters.
    for (int id : {int(kPaneUserName), int(kPanePassword)}) {
        const QWidget* w = Pane(id);
        if (!w) continue;
        const qsizetype n = TextOf(w).size();
        if (n < 2 || n > 30) return false;
    }
    return true;
}

void CDBusControl::Press(int id, const char* what)
{
    auto* button = qobject_cast<QAbstractButton*>(Pane(id));
    if (!button) {
        if (calledFromDBus())
            sendErrorReply(QDBusError::UnknownObject, QStringLiteral("the window has no %1 button").arg(what));
        return;
    }
    // A button the panel has hidden (the card panel shows a message in its place) cannot be
    // clicked by the user either.
    const bool hidden = button->testAttribute(Qt::WA_WState_ExplicitShowHide) && button->isHidden();
    if (!button->isEnabled() || hidden) {
        if (calledFromDBus())
            sendErrorReply(kErrorDisabled,
                           QStringLiteral("%1 is not available now (status %2)").arg(what).arg(sLastStatus));
        return;
    }
    QPointer<QAbstractButton> target(button);
    QTimer::singleShot(0, this, [target] {
        if (target) target->click();
    });
}

void CDBusControl::Connect(bool redial)
{
    if (auto* box = qobject_cast<QAbstractButton*>(Pane(kPaneRedial))) box->setChecked(redial);
    const bool valid = mHooks.accountValid ? mHooks.accountValid() : DefaultAccountValid();
    auto* button = qobject_cast<QAbstractButton*>(Pane(kPaneConnect));
    if (!valid && button && button->isEnabled()) {
        // The click still happens, so the window shows its caution as for the user's own click.
        QPointer<QAbstractButton> target(button);
        QTimer::singleShot(0, this, [target] {
            if (target) target->click();
        });
        if (calledFromDBus())
            sendErrorReply(kErrorInvalidAccount,
                           QStringLiteral("the user name and the password must each be 2 to 30 characters long"));
        return;
    }
    Press(kPaneConnect, "Connect");
}

void CDBusControl::Disconnect() { Press(kPaneDisconnect, "Disconnect"); }
void CDBusControl::Cancel() { Press(kPaneCancel, "Cancel"); }
void CDBusControl::Measure()
{
    // The card panel hides its button while connected or without a card, but only once the
    // user opens that tab: a script that never opens it must be refused the same way.
    const short app = AppStatus();
    if (app == 2 || app == -1) {
        if (calledFromDBus())
            sendErrorReply(kErrorDisabled,
                           QStringLiteral("Measure is not available now (status %1)").arg(sLastStatus));
        return;
    }
    Press(kPaneMeasure, "Measure");
}
void CDBusControl::FetchRemainingTime() { Press(kPaneRemainingTimeButton, "the remaining-time button"); }

void CDBusControl::ShowWindow()
{
    if (!mWindow) return;
    if (mWindow->isMinimized()) mWindow->showNormal();
    else mWindow->show();
    mWindow->raise();
    mWindow->activateWindow();
}

void CDBusControl::Quit()
{
    // After the reply has gone out.
    QTimer::singleShot(0, this, [this] {
        if (mHooks.quit) mHooks.quit();
        else QCoreApplication::quit();
    });
}

QVariantMap CDBusControl::Snapshot() const
{
    QVariantMap m;
    for (const char* name : kPropertyNames) m.insert(QString::fromLatin1(name), property(name));
    return m;
}

void CDBusControl::AnnounceChanges()
{
    if (!mExported) return;
    const QVariantMap now = Snapshot();
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        if (mAnnounced.value(it.key()) != it.value()) changed.insert(it.key(), it.value());
    }
    if (changed.isEmpty()) return;
    mAnnounced = now;
    QDBusMessage signal = QDBusMessage::createSignal(kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(kInterface) << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}
