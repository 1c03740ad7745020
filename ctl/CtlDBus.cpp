// kavanti-ctl's verbs that drive the running Kavanti through its org.kavanti.Kavanti1 object.
#include "ctl/Commands.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QStringList>
#include <QVariantMap>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>

namespace {

constexpr const char* kService = "org.kavanti.Kavanti";
constexpr const char* kPath = "/org/kavanti/Kavanti";
constexpr const char* kInterface = "org.kavanti.Kavanti1";

// In the order `status` prints them.
const char* const kProperties[] = {
    "Status", "AppStatus", "StatusMessage", "RemainingTime", "RemainingTimeCaption",
    "ConnectEnabled", "DisconnectEnabled", "CancelEnabled", "RemainingTimeEnabled", "Card",
};
const char* const kCardFields[] = {"ModelName", "PhsNumber", "FirmwareVersion", "Channel", "Intensity"};

// Qt's D-Bus needs an application object; each verb makes one for its own run, so it is gone
// again before the library's own statics at exit.
class CtlApp {
public:
    CtlApp() : mApp(mArgc, mArgv) {}
    QCoreApplication& App() { return mApp; }

private:
    int mArgc = 1;
    char mName[12] = "kavanti-ctl";
    char* mArgv[2] = {mName, nullptr};
    QCoreApplication mApp;
};

// The session bus with Kavanti on it, or the exit status 1 after saying why not.
std::optional<QDBusConnection> Kavanti(const char* verb)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr,
                     "kavanti-ctl: %s: no D-Bus session bus (%s), so no Kavanti to talk to; run it inside the "
                     "desktop session where Kavanti runs\n",
                     verb, qPrintable(bus.lastError().message()));
        return std::nullopt;
    }
    if (!bus.interface()->isServiceRegistered(QString::fromLatin1(kService)).value()) {
        std::fprintf(stderr, "kavanti-ctl: %s: Kavanti is not running (nothing owns %s on the session bus); start kavanti first\n",
                     verb, kService);
        return std::nullopt;
    }
    return bus;
}

nlohmann::ordered_json ToJson(const QVariant& v);

nlohmann::ordered_json ArgumentToJson(const QDBusArgument& arg)
{
    const QString sig = arg.currentSignature();
    if (sig == QLatin1String("a{sv}")) {
        nlohmann::ordered_json j = nlohmann::ordered_json::object();
        const QVariantMap m = qdbus_cast<QVariantMap>(arg);
        for (auto it = m.cbegin(); it != m.cend(); ++it) j[it.key().toStdString()] = ToJson(it.value());
        return j;
    }
    if (sig == QLatin1String("an")) {
        nlohmann::ordered_json j = nlohmann::ordered_json::array();
        for (short n : qdbus_cast<QList<short>>(arg)) j.push_back(n);
        return j;
    }
    if (sig == QLatin1String("as")) {
        nlohmann::ordered_json j = nlohmann::ordered_json::array();
        for (const QString& s : qdbus_cast<QStringList>(arg)) j.push_back(s.toStdString());
        return j;
    }
    return sig.toStdString();
}

nlohmann::ordered_json ToJson(const QVariant& v)
{
    if (v.metaType() == QMetaType::fromType<QDBusArgument>()) return ArgumentToJson(v.value<QDBusArgument>());
    if (v.metaType() == QMetaType::fromType<QDBusVariant>()) return ToJson(v.value<QDBusVariant>().variant());
    switch (v.metaType().id()) {
    case QMetaType::Bool: return v.toBool();
    case QMetaType::Short: case QMetaType::Int: case QMetaType::Long: case QMetaType::LongLong:
    case QMetaType::Char: case QMetaType::SChar:
        return v.toLongLong();
    case QMetaType::UShort: case QMetaType::UInt: case QMetaType::ULong: case QMetaType::ULongLong:
    case QMetaType::UChar:
        return v.toULongLong();
    case QMetaType::Double: return v.toDouble();
    case QMetaType::QVariantMap: {
        nlohmann::ordered_json j = nlohmann::ordered_json::object();
        const QVariantMap m = v.toMap();
        for (auto it = m.cbegin(); it != m.cend(); ++it) j[it.key().toStdString()] = ToJson(it.value());
        return j;
    }
    default:
        if (v.canConvert<QString>()) return v.toString().toStdString();
        return nullptr;
    }
}

// Parses the verb's options: the flags it knows (each may be given once) and --help.
// Returns -1 to go on, or the exit status.
int ParseFlags(const std::vector<std::string>& args, const char* usage, const char* help,
               std::initializer_list<std::pair<const char*, bool*>> flags)
{
    for (const auto& a : args) {
        if (a == "--help" || a == "-h") {
            std::printf("%s\n%s", usage, help);
            return 0;
        }
        bool known = false;
        for (const auto& [name, value] : flags) {
            if (a == name) {
                *value = true;
                known = true;
            }
        }
        if (!known) {
            std::fprintf(stderr, "kavanti-ctl: unknown option '%s'\n%s\n", a.c_str(), usage);
            return 2;
        }
    }
    return -1;
}

// Calls one method of the interface; 0, or 1 after printing Kavanti's answer.
int CallMethod(const char* verb, const char* method, const QVariantList& arguments = {})
{
    CtlApp app;
    auto bus = Kavanti(verb);
    if (!bus) return 1;
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                                       QString::fromLatin1(kInterface), QString::fromLatin1(method));
    call.setArguments(arguments);
    const QDBusMessage reply = bus->call(call);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        std::fprintf(stderr, "kavanti-ctl: %s: %s (%s)\n", verb, qPrintable(reply.errorMessage()),
                     qPrintable(reply.errorName()));
        return 1;
    }
    return 0;
}

int PlainMethod(const std::vector<std::string>& args, const char* verb, const char* method, const char* help)
{
    const std::string usage = std::string("usage: kavanti-ctl ") + verb;
    if (const int exit = ParseFlags(args, usage.c_str(), help, {}); exit >= 0) return exit;
    return CallMethod(verb, method);
}

// Qt's D-Bus delivers signals only to slots named in a meta-object.
class CStatusReceiver : public QObject {
    Q_OBJECT
public:
    std::function<void(short)> onStatus;
public slots:
    void StatusChanged(short code) { onStatus(code); }
};

std::string TextValue(const nlohmann::ordered_json& v)
{
    if (v.is_string()) return v.get<std::string>();
    if (v.is_boolean()) return v.get<bool>() ? "yes" : "no";
    return v.dump();
}

} // namespace

int CtlStatus(const std::vector<std::string>& args)
{
    bool json = false;
    if (const int exit = ParseFlags(args, "usage: kavanti-ctl status [--json]",
                                    "Prints the properties of the running Kavanti: the last status code, the application\n"
                                    "status, the status message, the remaining time and its caption, which buttons are\n"
                                    "enabled, and the last card measurement.\n",
                                    {{"--json", &json}});
        exit >= 0)
        return exit;
    CtlApp app;
    auto bus = Kavanti("status");
    if (!bus) return 1;
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                                       QStringLiteral("org.freedesktop.DBus.Properties"),
                                                       QStringLiteral("GetAll"));
    call << QString::fromLatin1(kInterface);
    const QDBusMessage reply = bus->call(call);
    if (reply.type() == QDBusMessage::ErrorMessage || reply.arguments().isEmpty()) {
        std::fprintf(stderr, "kavanti-ctl: status: Kavanti did not give its properties (%s)\n",
                     qPrintable(reply.errorMessage()));
        return 1;
    }
    const nlohmann::ordered_json all = ToJson(reply.arguments().first());
    nlohmann::ordered_json j = nlohmann::ordered_json::object();
    for (const char* name : kProperties) {
        if (all.contains(name)) j[name] = all[name];
    }
    if (json) {
        std::printf("%s\n", j.dump(2).c_str());
        return 0;
    }
    for (const char* name : kProperties) {
        if (!j.contains(name) || std::string(name) == "Card") continue;
        std::printf("%-22s %s\n", (std::string(name) + ":").c_str(), TextValue(j[name]).c_str());
    }
    const auto& card = j.contains("Card") ? j["Card"] : nlohmann::ordered_json::object();
    if (card.empty()) {
        std::printf("%-22s %s\n", "Card:", "not measured yet");
    } else {
        std::printf("Card:\n");
        for (const char* field : kCardFields) {
            if (!card.contains(field)) continue;
            std::string value;
            if (card[field].is_array()) {
                for (const auto& n : card[field]) value += (value.empty() ? "" : " ") + n.dump();
            } else {
                value = TextValue(card[field]);
            }
            std::printf("  %-20s %s\n", (std::string(field) + ":").c_str(), value.c_str());
        }
    }
    return 0;
}

int CtlConnect(const std::vector<std::string>& args)
{
    bool redial = false;
    if (const int exit = ParseFlags(args, "usage: kavanti-ctl connect [--redial]",
                                    "Presses Connect in the running Kavanti, with the redial box set as given (off\n"
                                    "without --redial). Fails when the dial-up panel refuses the account or Connect\n"
                                    "is not available.\n",
                                    {{"--redial", &redial}});
        exit >= 0)
        return exit;
    return CallMethod("connect", "Connect", {QVariant(redial)});
}

int CtlDisconnect(const std::vector<std::string>& args)
{
    return PlainMethod(args, "disconnect", "Disconnect", "Presses Disconnect in the running Kavanti.\n");
}

int CtlCancel(const std::vector<std::string>& args)
{
    return PlainMethod(args, "cancel", "Cancel", "Presses Cancel (stops dialling or redialling) in the running Kavanti.\n");
}

int CtlMeasure(const std::vector<std::string>& args)
{
    return PlainMethod(args, "measure", "Measure", "Presses Measure on the card information panel of the running Kavanti.\n");
}

int CtlRemainingTime(const std::vector<std::string>& args)
{
    return PlainMethod(args, "remaining-time", "FetchRemainingTime",
                       "Presses the button that fetches the remaining prepaid time in the running Kavanti.\n");
}

int CtlWatch(const std::vector<std::string>& args)
{
    const char* usage = "usage: kavanti-ctl watch [--until CODE] [--json]";
    bool json = false;
    std::optional<long> until;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            std::printf("%s\n%s", usage,
                        "Prints the current status of the running Kavanti, then one line per status as Kavanti\n"
                        "reports it, until interrupted, or until the status CODE has been printed. Exits 1\n"
                        "when Kavanti quits meanwhile.\n");
            return 0;
        }
        if (a == "--json") {
            json = true;
        } else if (a == "--until" || a.rfind("--until=", 0) == 0) {
            std::string value;
            if (a == "--until") {
                if (i + 1 >= args.size()) {
                    std::fprintf(stderr, "kavanti-ctl: watch: --until needs a status code\n%s\n", usage);
                    return 2;
                }
                value = args[++i];
            } else {
                value = a.substr(8);
            }
            char* end = nullptr;
            errno = 0;
            const long code = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || errno != 0 || code < -32768 || code > 32767) {
                std::fprintf(stderr, "kavanti-ctl: watch: '%s' is not a status code\n%s\n", value.c_str(), usage);
                return 2;
            }
            until = code;
        } else {
            std::fprintf(stderr, "kavanti-ctl: unknown option '%s'\n%s\n", a.c_str(), usage);
            return 2;
        }
    }
    CtlApp ctlApp;
    QCoreApplication& app = ctlApp.App();
    auto bus = Kavanti("watch");
    if (!bus) return 1;

    auto print = [json](long code) {
        if (json) std::printf("{\"status\":%ld}\n", code);
        else std::printf("%ld\n", code);
        std::fflush(stdout);
    };
    int result = 0;
    bool done = false;
    auto receiver = std::make_unique<CStatusReceiver>();
    receiver->onStatus = [&](short code) {
        if (done) return;
        print(code);
        if (until && code == *until) {
            done = true;
            app.quit();
        }
    };
    // Subscribe before reading the current status, so nothing falls between the two.
    const bool subscribed = bus->connect(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                         QString::fromLatin1(kInterface), QStringLiteral("StatusChanged"),
                                         receiver.get(), SLOT(StatusChanged(short)));
    if (!subscribed) {
        std::fprintf(stderr, "kavanti-ctl: watch: cannot listen to Kavanti's status (%s)\n",
                     qPrintable(bus->lastError().message()));
        return 1;
    }
    QDBusServiceWatcher watcher(QString::fromLatin1(kService), *bus, QDBusServiceWatcher::WatchForUnregistration);
    QObject::connect(&watcher, &QDBusServiceWatcher::serviceUnregistered, [&] {
        if (done) return;
        std::fprintf(stderr, "kavanti-ctl: watch: Kavanti quit\n");
        result = 1;
        done = true;
        app.quit();
    });

    QDBusMessage get = QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << QString::fromLatin1(kInterface) << QStringLiteral("Status");
    const QDBusMessage reply = bus->call(get);
    if (reply.type() == QDBusMessage::ErrorMessage || reply.arguments().isEmpty()) {
        std::fprintf(stderr, "kavanti-ctl: watch: Kavanti did not give its status (%s)\n",
                     qPrintable(reply.errorMessage()));
        return 1;
    }
    const nlohmann::ordered_json current = ToJson(reply.arguments().first());
    receiver->onStatus(static_cast<short>(current.is_number() ? current.get<long>() : 0));
    if (!done) app.exec();
    return result;
}

#include "CtlDBus.moc"
