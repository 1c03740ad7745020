// A stand-in for the application behind the D-Bus control: a window of the dial-up panel's and
// the card panel's panes (as the layouts make them, with their pane IDs), the real CDBusControl,
// and a scripted "application" that answers each button with the statuses the real one gives.
// Every press, window show and quit is reported on standard output, one line each.
//   FakeKavanti [--user NAME] [--password TEXT] [--no-card] [--show] [--exit-after-start]
#include "app/card/CModemInfo.h"
#include "app/ui/CDBusControl.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

void Say(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

template <class T>
T* Pane(QWidget* parent, int id)
{
    auto* w = new T(parent);
    w->setProperty("paneID", id);
    parent->layout()->addWidget(w);
    return w;
}

class ShowSpy : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == QEvent::Show) Say("shown");
        return QObject::eventFilter(o, e);
    }
};

} // namespace

int main(int argc, char** argv)
{
    QString user = "kavanti@example.jp", password = "secret";
    bool exitAfterStart = false, noCard = false, show = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--user") && i + 1 < argc) user = argv[++i];
        else if (!std::strcmp(argv[i], "--password") && i + 1 < argc) password = argv[++i];
        else if (!std::strcmp(argv[i], "--exit-after-start")) exitAfterStart = true;
        else if (!std::strcmp(argv[i], "--no-card")) noCard = true;
        else if (!std::strcmp(argv[i], "--show")) show = true;
    }
    QApplication app(argc, argv);
    if (CDBusControl::HandOverToRunningInstance()) {
        Say("handed over");
        return 0;
    }

    QWidget window;
    window.setProperty("paneID", 1000);
    new QVBoxLayout(&window);
    auto* userName = Pane<QLineEdit>(&window, 1112);
    auto* pass = Pane<QLineEdit>(&window, 1113);
    userName->setText(user);
    pass->setText(password);
    auto* message = Pane<QLabel>(&window, 1131);
    auto* redial = Pane<QCheckBox>(&window, 1141);
    auto* connectButton = Pane<QPushButton>(&window, 1102);
    auto* disconnectButton = Pane<QPushButton>(&window, 1101);
    auto* cancelButton = Pane<QPushButton>(&window, 1103);
    auto* limitBox = Pane<QGroupBox>(&window, 1150);
    limitBox->setLayout(new QVBoxLayout);
    auto* limitText = Pane<QLabel>(limitBox, 1152);
    auto* limitButton = Pane<QPushButton>(limitBox, 1151);
    auto* measureButton = Pane<QPushButton>(&window, 1301);
    // Without a card the card panel shows its message instead of the Measure button.
    if (noCard) measureButton->hide();
    limitBox->setTitle("Remaining time");
    limitText->setText("--/--/--");
    ShowSpy spy;
    window.installEventFilter(&spy);

    short appStatus = 0;
    CDBusControl::Hooks hooks;
    hooks.appStatus = [&] { return appStatus; };
    hooks.quit = [&] {
        Say("quit");
        app.quit();
    };
    CDBusControl control(&window, hooks);

    // The window passes a status on to the control first and to the panel after, as the main
    // window does: the control must still announce the panel's new state.
    auto setStatus = [&](short code) {
        CDBusControl::NotifyStatus(code);
        const char* texts[] = {"Idle.", "", "Connected.", "Connect complete.", "Modem initialised.", "",
                               "Authenticating.", "Hung up.", "", "Connection failed."};
        if (code >= 0 && code <= 9 && *texts[code]) message->setText(texts[code]);
        // The card panel's button gives way to a message while connected, as in the real panel.
        if (code == 2) measureButton->hide();
        if (code == 0 && !noCard) measureButton->show();
        switch (code) {
        case 0:
            connectButton->setEnabled(true), disconnectButton->setEnabled(false), cancelButton->setEnabled(false);
            limitButton->setEnabled(false);
            break;
        case 2:
            connectButton->setEnabled(false), disconnectButton->setEnabled(true), cancelButton->setEnabled(false);
            limitButton->setEnabled(true);
            break;
        case 3: case 7:
            connectButton->setEnabled(false), disconnectButton->setEnabled(false);
            cancelButton->setEnabled(redial->isChecked()), limitButton->setEnabled(false);
            break;
        case 10: limitButton->setEnabled(false); break;
        case 11: limitButton->setEnabled(true); break;
        default: break;
        }
    };
    // Statuses one event-loop turn apart, as PPP events arrive.
    auto play = [&](std::vector<short> codes) {
        int delay = 0;
        for (short c : codes) QTimer::singleShot(delay += 5, &app, [&, c] {
            if (c == 2 || c == 0) appStatus = c;
            setStatus(c);
        });
    };

    QObject::connect(connectButton, &QPushButton::clicked, [&] {
        Say(QString("pressed 1102 redial=%1").arg(redial->isChecked() ? 1 : 0));
        const qsizetype u = userName->text().size(), p = pass->text().size();
        if (u < 2 || u > 30) return Say("caution 3");
        if (p < 2 || p > 30) return Say("caution 4");
        play({4, 6, 3, 2});
    });
    QObject::connect(disconnectButton, &QPushButton::clicked, [&] {
        Say("pressed 1101");
        play({7, 0});
    });
    QObject::connect(cancelButton, &QPushButton::clicked, [&] { Say("pressed 1103"); });
    QObject::connect(limitButton, &QPushButton::clicked, [&] {
        Say("pressed 1151");
        setStatus(10);
        limitText->setText("02:05");
        limitBox->setTitle("Time left");
        setStatus(11);
    });
    QObject::connect(measureButton, &QPushButton::clicked, [&] {
        Say("pressed 1301");
        ModemInformation info;
        info.modemName.Assign("KV-PHS100");
        info.phsNo.Assign("07012345678");
        info.firmwareVersion.Assign("1.00");
        info.channel = 3;
        const char levels[] = "3333444455555";
        for (int i = 0; i < kIntensityCount; ++i) info.intensity[i] = short(levels[i] - '0');
        CDBusControl::NotifyCard(info);
    });

    setStatus(0);
    switch (control.Start()) {
    case CDBusControl::StartResult::Registered: Say("ready"); break;
    case CDBusControl::StartResult::NoBus: Say("ready without D-Bus"); break;
    case CDBusControl::StartResult::Taken: Say("taken"); return 0;
    }
    if (exitAfterStart) return 0;
    // As the application shows its window at start-up (the hand-over test leaves it hidden).
    if (show) window.show();
    return app.exec();
}
