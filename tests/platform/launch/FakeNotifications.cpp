// A tiny org.freedesktop.Notifications service for tests: every Notify call is appended to the
// file named by argv[1] as "app|summary|body", and answered with a new id. Prints "ready" once
// it owns the name.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QFile>

#include <cstdio>

namespace {

class Service : public QDBusVirtualObject {
public:
    explicit Service(QString log) : mLog(std::move(log)) {}
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override
    {
        if (m.interface() != QLatin1String("org.freedesktop.Notifications")) return false;
        if (m.member() == QLatin1String("GetServerInformation")) {
            bus.send(m.createReply(QVariantList{QStringLiteral("fake"), QStringLiteral("kavanti"),
                                                QStringLiteral("1"), QStringLiteral("1.2")}));
            return true;
        }
        if (m.member() != QLatin1String("Notify") || m.arguments().size() < 5) return false;
        const auto a = m.arguments();
        QFile f(mLog);
        if (f.open(QIODevice::Append)) {
            f.write((a[0].toString() + "|" + a[3].toString() + "|" + a[4].toString() + "\n").toUtf8());
            f.close();
        }
        bus.send(m.createReply(QVariant::fromValue(++mNext)));
        return true;
    }

private:
    QString mLog;
    uint mNext = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) return 2;
    QDBusConnection bus = QDBusConnection::sessionBus();
    Service service(QString::fromLocal8Bit(argv[1]));
    if (!bus.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &service)
        || !bus.registerService(QStringLiteral("org.freedesktop.Notifications")))
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
