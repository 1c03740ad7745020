// kavanti: the application program. Makes the QApplication and the application object, hands
// the core its window and the configuration layer its credentials dialog, and runs the loop.
#include "app/core/CApplicationMain.h"
#include "app/core/CMainWindowIface.h"
#include "app/netconfig/CAuthPrompt.h"
#include "app/ui/CAuthDialog.h"
#include "app/ui/CCoreUiHost.h"
#include "app/ui/CDBusControl.h"
#include "app/ui/CDialupView.h"
#include "app/ui/CMainWindow.h"
#include "app/ui/CUiFactory.h"
#include "platform/shell/KEventLoop.h"

#if __has_include("platform/launch/ULaunchURL.h") && __has_include("app/core/CLaunchHooks.h")
#include "app/core/CLaunchHooks.h"
#include "platform/launch/ULaunchURL.h"
#define KAVANTI_HAVE_LAUNCH 1
#endif

#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char* const kUsage =
    "Usage: kavanti [--help | --version]\n"
    "\n"
    "Dial-up manager for the prepaid PHS data service. Kavanti has no other options: its\n"
    "settings are in its window and in ~/.config/kavanti/Kavanti.plist.\n"
    "\n"
    "  --help      show this text and exit\n"
    "  --version   show the version and exit\n"
    "\n"
    "kavanti-ctl talks to a running Kavanti from scripts.\n";

// The top of the command chain: what the framework itself does for the application.
class CShellCommander : public KCommander {
public:
    static constexpr int32_t kCmdQuit = 10;
    bool ObeyCommand(int32_t command, void* param) override
    {
        if (command == kCmdQuit) {
            KEventLoop::Quit(0);
            return true;
        }
        return KCommander::ObeyCommand(command, param);
    }
};

#ifdef KAVANTI_HAVE_LAUNCH
class CDesktopLaunchHooks : public CLaunchHooks {
public:
    void LaunchHelper(const char* url) override { ULaunchURL::LaunchHelper(url ? url : ""); }
    void LaunchURL(const Str255& url) override { ULaunchURL::LaunchURL(url); }
    void LaunchDefaultBrowser() override { ULaunchURL::LaunchDefaultBrowser(); }
};
#endif

// For bench/app_start: ends the run as soon as the main window has been shown.
class CExitWhenShown : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Shown during start-up, before the loop runs: the quit waits for the loop.
        if (event->type() == QEvent::Show && qobject_cast<CMainWindow*>(watched))
            QTimer::singleShot(0, [] { KEventLoop::Quit(0); });
        return QObject::eventFilter(watched, event);
    }
};

void InstallTranslations(QApplication& app)
{
    const QLocale locale;
    auto* ours = new QTranslator(&app);
    if (ours->load(locale, "kavanti", "_", ":/i18n")) QApplication::installTranslator(ours);
    // Qt's own texts (the buttons of the message boxes) in the same language.
    auto* qt = new QTranslator(&app);
    if (qt->load(locale, "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(qt);
}

} // namespace

int main(int argc, char** argv)
{
    KPaths::EnterSandboxEnvironment();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("kavanti %s\n", KAVANTI_VERSION);
            return 0;
        }
        std::fprintf(stderr, "kavanti: unknown option '%s'\n\n%s", argv[i], kUsage);
        return 2;
    }

    QApplication app(argc, argv);
    // A second start shows the running Kavanti's window instead of opening another.
    if (CDBusControl::HandOverToRunningInstance()) return 0;
    QApplication::setApplicationName("Kavanti");
    QApplication::setApplicationVersion(KAVANTI_VERSION);
    QApplication::setDesktopFileName("org.kavanti.Kavanti");
    QApplication::setWindowIcon(QIcon(":/pictures/kavanti.svg"));
    // The window has no close button; closing an about window must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    InstallTranslations(app);

    CCoreUiHost host;
    CUiFactory factory(&host);
    RegisterWindowFactory(&factory);
    CAuthPromptDialog prompt;
    RegisterAuthPrompt(&prompt);
#ifdef KAVANTI_HAVE_LAUNCH
    CDesktopLaunchHooks launch;
    RegisterLaunchHooks(&launch);
#endif
    CExitWhenShown exitWhenShown;
    if (std::getenv("KAVANTI_BENCH_EXIT_WHEN_SHOWN")) app.installEventFilter(&exitWhenShown);

    int code = 1;
    {
        CShellCommander shell;
        CApplicationMain appMain;
        appMain.SetSuperCommander(&shell);
        if (appMain.StartUp()) {
            CDBusControl::Hooks hooks;
            hooks.appStatus = [] { return short(CApplicationMain::GetAppMain()->GetAppStatus()); };
            hooks.quit = [&shell] { shell.ObeyCommand(CShellCommander::kCmdQuit, nullptr); };
            CMainWindow* window = factory.MainWindow();
            CDialupView* dialup = window ? window->DialupView() : nullptr;
            if (dialup) hooks.accountValid = [dialup] { return dialup->CheckUserName() && dialup->CheckPassword(); };
            CDBusControl control(window, hooks);
            // Lost a start race to another instance: it has been asked to show its window.
            if (control.Start() == CDBusControl::StartResult::Taken) code = 0;
            else code = KEventLoop::Run();
        }
        // The window belongs to the framework: it goes before the application object, saving
        // its position, the modem-script option and the remaining time.
        factory.DestroyWindows();
    }
    RegisterAuthPrompt(nullptr);
    RegisterWindowFactory(nullptr);
    return code;
}
