// Shows one panel of the real window (or the about window, or the credentials dialog) with
// sample data, for the screenshots made under Xvfb. Prints "ready WxH+X+Y" once it is on
// screen, then ends by itself a few seconds later (cleaning its sandbox).
#include "UiFixture.h"

#include "app/card/CModemInfo.h"
#include "app/ui/CAboutWindow.h"
#include "app/ui/CAuthDialog.h"

#include <QLibraryInfo>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    int panel = 1100;
    QString lang = "en";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--panel")) panel = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--lang")) lang = argv[i + 1];
    }
    QApplication app(argc, argv);
    QApplication::setApplicationVersion("0.1");
    QTranslator ja;
    if (lang == "ja" && ja.load(":/i18n/kavanti_ja.qm")) QApplication::installTranslator(&ja);
    QTranslator qt;
    if (lang == "ja" && qt.load("qtbase_ja", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qt);

    TempDir tmp;
    ScopedEnv root("KAVANTI_ROOT", tmp / "root"), res("KAVANTI_RESOURCES", tmp / "res");
    WriteFileText(tmp / "res/DefaultPref.plist", TestDefaults());
    FakeHost host;
    host.prefs.LoadPreferences();
    RecordingCommander commander;
    CMainWindow window(&host, &commander);

    QWidget* shown = &window;
    if (panel == 999) {
        shown = new CAboutWindow(&commander);
    } else if (panel == 1500) {
        auto* d = new CAuthDialog;
        d->SetUserName("kavanti");
        shown = d;
    } else {
        host.status = panel == 1300 ? 0 : 2;
        window.SetStatus(2);
        window.SetLimitText("12:34", 5, 133);
        ModemInformation info;
        info.modemName = Str255::From("AH-S405C");
        info.phsNo = Str255::From("070-1234-5678");
        info.firmwareVersion = Str255::From("Ver 1.02");
        info.channel = 2;
        const int16_t levels[13] = {5, 4, 4, 3, 5, 2, 1, 0, 3, 4, 5, 2, 3};
        std::copy(std::begin(levels), std::end(levels), info.intensity);
        window.SetCardInfo(&info);
        window.SelectTab(panel);
        window.SetConfigButton(panel == 1400);
    }
    shown->move(0, 0);
    shown->show();
    QTimer::singleShot(700, [shown] {
        const QRect g = shown->frameGeometry();
        std::printf("ready %dx%d+%d+%d\n", g.width(), g.height(), g.x(), g.y());
        std::fflush(stdout);
        QTimer::singleShot(3000, [] { QApplication::exit(0); });
    });
    const int code = app.exec();
    if (shown != &window) delete shown;
    return code;
}
