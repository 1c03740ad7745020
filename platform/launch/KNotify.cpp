#include "platform/launch/KNotify.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QStringList>
#include <QVariantMap>

namespace KNotify {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

// The id of our last notification, so the next one replaces it instead of piling up.
uint gLastId = 0;

} // namespace

bool ServiceAvailable()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    QDBusConnectionInterface* iface = bus.interface();
    if (!iface) return false;
    if (iface->isServiceRegistered(kService).value()) return true;
    // A service that the bus starts on the first call counts too.
    const QDBusMessage list = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListActivatableNames"));
    const QDBusReply<QStringList> names = bus.call(list, QDBus::Block, 2000);
    return names.isValid() && names.value().contains(kService);
}

bool Send(const std::string& summary, const std::string& body)
{
    if (!ServiceAvailable()) return false;
    QDBusMessage m = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    QVariantMap hints;
    // The desktop entry and the themed icon are both named after the application's D-Bus name.
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("org.kavanti.Kavanti"));
    m << QStringLiteral("Kavanti") << gLastId << QStringLiteral("org.kavanti.Kavanti") << QString::fromStdString(summary)
      << QString::fromStdString(body) << QStringList() << hints << int(-1);
    QDBusPendingCall call = QDBusConnection::sessionBus().asyncCall(m);
    auto* watcher = new QDBusPendingCallWatcher(call);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [](QDBusPendingCallWatcher* w) {
        const QDBusMessage reply = w->reply();
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
            gLastId = reply.arguments().first().toUInt();
        w->deleteLater();
    });
    return true;
}

bool LinkStatusChanged(short dialupStatus, bool windowHidden, const std::string& text)
{
    if (!windowHidden) return false;
    if (dialupStatus != 2 && dialupStatus != 9 && dialupStatus != 0) return false;
    return Send("Kavanti", text);
}

} // namespace KNotify
