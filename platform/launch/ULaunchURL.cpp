#include "platform/launch/ULaunchURL.h"

#include "platform/launch/KBrowserQuit.h"
#include "platform/launch/KDesktopProxy.h"
#include "platform/launch/KFirefoxCache.h"
#include "platform/launch/KNotify.h"
#include "platform/launch/KProcesses.h"
#include "platform/shell/KTicks.h"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <QCoreApplication>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <memory>
#include <unistd.h>

namespace {

constexpr uint32_t kQuitWaitTicks = 300;

struct Unref {
    void operator()(gpointer p) const { if (p) g_object_unref(p); }
};
using AppPtr = std::unique_ptr<GAppInfo, Unref>;
using ContextPtr = std::unique_ptr<GAppLaunchContext, Unref>;

ULaunchURL::RestartNotice gRestartNotice;
size_t gLiveWaits = 0;

// A launch context whose programs get the accelerator proxy in their environment.
ContextPtr MakeContext()
{
    ContextPtr ctx(g_app_launch_context_new());
    for (const auto& [name, value] : KDesktopProxy::Environment())
        g_app_launch_context_setenv(ctx.get(), name.c_str(), value.c_str());
    return ctx;
}

// The scheme of a URL text, or "" when the text is not a URL.
std::string SchemeOf(std::string_view url)
{
    const std::string u(url);
    // Spaces and control characters have no place in a URL, whatever a lenient parser says.
    if (u.empty() || std::any_of(u.begin(), u.end(), [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f; }))
        return {};
    gchar* scheme = g_uri_parse_scheme(u.c_str());
    std::string s = scheme ? scheme : "";
    g_free(scheme);
    return s;
}

OSStatus DefaultHandler(std::string_view url, AppPtr& app)
{
    const std::string scheme = SchemeOf(url);
    if (scheme.empty()) return kStatusBadParam;
    app.reset(g_app_info_get_default_for_uri_scheme(scheme.c_str()));
    return app ? kStatusOK : kStatusApplicationNotFound;
}

OSStatus StatusFromLaunchError(GError* err)
{
    if (!err) return kStatusLaunchFailed;
    const bool notFound = err->domain == G_IO_ERROR
        && (err->code == G_IO_ERROR_NOT_SUPPORTED || err->code == G_IO_ERROR_NOT_FOUND);
    g_error_free(err);
    return notFound ? kStatusApplicationNotFound : kStatusLaunchFailed;
}

// The words of a desktop entry's command line that name its program: "env A=1 prog %u" runs prog.
std::string ProgramOfEntry(GAppInfo* app)
{
    const char* cmd = g_app_info_get_commandline(app);
    if (!cmd) return {};
    gint argc = 0;
    gchar** argv = nullptr;
    if (!g_shell_parse_argv(cmd, &argc, &argv, nullptr)) return {};
    std::string prog;
    int i = 0;
    if (argc > 0) {
        const std::string first = argv[0];
        if (first == "env" || (first.size() > 4 && first.compare(first.size() - 4, 4, "/env") == 0)) {
            i = 1;
            while (i < argc && (argv[i][0] == '-' || std::string(argv[i]).find('=') != std::string::npos)) ++i;
        }
        if (i < argc) prog = argv[i];
    }
    g_strfreev(argv);
    return prog;
}

std::string DisplayName(const std::string& creator)
{
    std::unique_ptr<GDesktopAppInfo, Unref> info(g_desktop_app_info_new(creator.c_str()));
    if (!info) return creator;
    const char* name = g_app_info_get_display_name(G_APP_INFO(info.get()));
    return name ? name : creator;
}

} // namespace

OSStatus ULaunchURL::LaunchHelper(std::string_view url)
{
    AppPtr app;
    if (const OSStatus st = DefaultHandler(url, app); st != kStatusOK) return st;
    ContextPtr ctx = MakeContext();
    GError* err = nullptr;
    // No document: the entry's %u/%U/%f fields are dropped, the program just starts.
    if (!g_app_info_launch(app.get(), nullptr, ctx.get(), &err)) return StatusFromLaunchError(err);
    return kStatusOK;
}

OSStatus ULaunchURL::GetHelperCreator(std::string_view url, std::string& creator)
{
    AppPtr app;
    if (const OSStatus st = DefaultHandler(url, app); st != kStatusOK) return st;
    const char* id = g_app_info_get_id(app.get());
    if (!id) return kStatusApplicationNotFound;
    creator = id;
    return kStatusOK;
}

std::vector<std::string> ULaunchURL::ExecutablesOfEntry(const std::string& creator)
{
    std::unique_ptr<GDesktopAppInfo, Unref> info(g_desktop_app_info_new(creator.c_str()));
    if (!info) return {};
    const std::string prog = ProgramOfEntry(G_APP_INFO(info.get()));
    return prog.empty() ? std::vector<std::string>{} : KProcesses::ExecutablesOf(prog);
}

OSStatus ULaunchURL::FindProcess(const std::string& creator, pid_t* pid)
{
    return KProcesses::FindFirst(ExecutablesOfEntry(creator), pid);
}

OSStatus ULaunchURL::LaunchDefaultBrowser()
{
    std::string creator;
    if (const OSStatus st = GetHelperCreator("http:", creator); st != kStatusOK) return st;
    const auto exes = ExecutablesOfEntry(creator);
    const auto pids = KProcesses::Find(exes);
    if (pids.empty()) return LaunchHelper("http:");

    const OSStatus asked = KBrowserQuit::AskToQuit(pids, KBrowserQuit::QuitsCleanlyOnTerm(creator, exes));
    if (asked != kStatusOK) {
        // Quitting it any other way would look like a crash to it: the user restarts it.
        NoticeRestartNeeded(creator);
        return asked;
    }
    CWaitForTheEnd::Starter(creator, kQuitWaitTicks, pids);
    return kStatusOK;
}

OSStatus ULaunchURL::LaunchURL(const Str255& url)
{
    const std::string u(url.View());
    if (SchemeOf(u).empty() || !g_uri_is_valid(u.c_str(), G_URI_FLAGS_NONE, nullptr)) return kStatusBadParam;
    ContextPtr ctx = MakeContext();
    GError* err = nullptr;
    if (!g_app_info_launch_default_for_uri(u.c_str(), ctx.get(), &err)) return StatusFromLaunchError(err);
    return kStatusOK;
}

OSStatus ULaunchURL::ClearIEWebCache()
{
    return KFirefoxCache::Clear();
}

bool ULaunchURL::IsCacheBrowserRunning()
{
    std::vector<std::string> exes;
    for (const char* p : {"firefox-esr", "firefox", "/usr/lib/firefox-esr/firefox-esr", "/usr/lib/firefox/firefox"})
        for (auto& e : KProcesses::ExecutablesOf(p)) exes.push_back(std::move(e));
    // A Firefox installed elsewhere and chosen as the default browser.
    std::string creator;
    if (GetHelperCreator("http:", creator) == kStatusOK && creator.rfind("firefox", 0) == 0)
        for (auto& e : ExecutablesOfEntry(creator)) exes.push_back(std::move(e));
    return KProcesses::FindFirst(exes) == kStatusOK;
}

bool ULaunchURL::IsNetworkSettingsRunning()
{
    return KProcesses::AnyRunning(KProcesses::NetworkSettingsPrograms());
}

void ULaunchURL::SetRestartNotice(RestartNotice notice)
{
    gRestartNotice = std::move(notice);
}

void ULaunchURL::NoticeRestartNeeded(const std::string& creator)
{
    const std::string name = DisplayName(creator);
    if (gRestartNotice) {
        gRestartNotice(name);
        return;
    }
    const QString text = QCoreApplication::translate("ULaunchURL", "Restart %1 to use the new proxy setting.")
                             .arg(QString::fromStdString(name));
    KNotify::Send("Kavanti", text.toStdString());
}

// --- CWaitForTheEnd ---

CWaitForTheEnd* CWaitForTheEnd::Starter(const std::string& creator, uint32_t period, std::vector<pid_t> pids)
{
    auto* w = new CWaitForTheEnd(creator, TickCount() + period, std::move(pids));
    w->StartIdling();
    return w;
}

CWaitForTheEnd::CWaitForTheEnd(const std::string& creator, uint32_t deadline, std::vector<pid_t> pids)
    : mCreator(creator), mDeadline(deadline), mExecutables(ULaunchURL::ExecutablesOfEntry(creator)),
      mPids(std::move(pids))
{
    ++gLiveWaits;
}

CWaitForTheEnd::~CWaitForTheEnd()
{
    --gLiveWaits;
}

size_t CWaitForTheEnd::LiveCount()
{
    return gLiveWaits;
}

bool CWaitForTheEnd::StillRuns()
{
    // Idle passes come about a millisecond apart: look at the processes we know first, and
    // scan all of /proc only once they have gone (a new one may have been started meanwhile).
    // Checking the program as well as the PID keeps a reused PID from counting.
    std::erase_if(mPids, [&](pid_t p) { return !KProcesses::Runs(p, mExecutables); });
    if (!mPids.empty()) return true;
    mPids = KProcesses::Find(mExecutables);
    return !mPids.empty();
}

void CWaitForTheEnd::SpendTime()
{
    if (!StillRuns()) {
        ULaunchURL::LaunchHelper("http:");
        StopIdling();
        delete this;
        return;
    }
    if (static_cast<int32_t>(TickCount() - mDeadline) > 0) {
        // The old browser keeps running with the old proxy; say so rather than kill it.
        ULaunchURL::NoticeRestartNeeded(mCreator);
        StopIdling();
        delete this;
    }
}
