// Drives the desktop layer against the real default browser, one step per run, for
// scripts/firefox-check: start | open URL | restart | quit | running | clear-cache.
// Prints one line "STEP: status N ..." and exits 0 when the step did what it should.
#include "platform/launch/KBrowserQuit.h"
#include "platform/launch/KProcesses.h"
#include "platform/launch/ULaunchURL.h"
#include "platform/shell/KTicks.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace {

std::vector<pid_t> BrowserPids()
{
    std::string creator;
    if (ULaunchURL::GetHelperCreator("http:", creator) != kStatusOK) return {};
    return KProcesses::Find(ULaunchURL::ExecutablesOfEntry(creator));
}

bool WaitFor(bool wantRunning, int seconds)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (BrowserPids().empty() != wantRunning) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string step = argc > 1 ? argv[1] : "";
    if (step == "start") {
        const OSStatus st = ULaunchURL::LaunchHelper("http:");
        const bool up = st == kStatusOK && WaitFor(true, 60);
        std::printf("start: status %d, running %s\n", int(st), up ? "yes" : "no");
        return up ? 0 : 1;
    }
    if (step == "open" && argc == 3) {
        const OSStatus st = ULaunchURL::LaunchURL(Str255::From(argv[2]));
        std::printf("open: status %d\n", int(st));
        return st == kStatusOK ? 0 : 1;
    }
    if (step == "restart") {
        const auto before = BrowserPids();
        std::string creator;
        ULaunchURL::GetHelperCreator("http:", creator);
        ULaunchURL::SetRestartNotice([](const std::string& name) { std::printf("restart: notice for %s\n", name.c_str()); });
        const uint32_t start = TickCount();
        const OSStatus st = ULaunchURL::LaunchDefaultBrowser();
        // The application's idle passes, about a millisecond apart.
        while (CWaitForTheEnd::LiveCount() > 0) {
            KPeriodical::DevoteTimeToIdlers();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const uint32_t ticks = TickCount() - start;
        const bool again = WaitFor(true, 60);
        const auto after = BrowserPids();
        const bool fresh = !after.empty() && (before.empty() || after.front() != before.front());
        std::printf("restart: status %d, %s processes before, wait %u ticks, running again %s (new process %s)\n",
                    int(st), std::to_string(before.size()).c_str(), ticks, again ? "yes" : "no", fresh ? "yes" : "no");
        return st == kStatusOK && again && fresh ? 0 : 1;
    }
    if (step == "quit") {
        std::string creator;
        ULaunchURL::GetHelperCreator("http:", creator);
        const bool term = KBrowserQuit::QuitsCleanlyOnTerm(creator, ULaunchURL::ExecutablesOfEntry(creator));
        // A browser just started may not have mapped its window yet.
        OSStatus st = kStatusNoSuchProcess;
        for (int i = 0; i < 300; ++i) {
            st = KBrowserQuit::AskToQuit(BrowserPids(), term);
            if (st == kStatusOK || st == kStatusNoSuchProcess) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        const bool gone = st == kStatusOK && WaitFor(false, 60);
        std::printf("quit: status %d, windows asked %s, gone %s\n", int(st), st == kStatusOK ? "yes" : "no",
                    gone ? "yes" : "no");
        return gone ? 0 : 1;
    }
    if (step == "running") {
        const bool r = ULaunchURL::IsCacheBrowserRunning();
        std::printf("running: cache browser %s\n", r ? "yes" : "no");
        return r ? 0 : 1;
    }
    if (step == "clear-cache") {
        const OSStatus st = ULaunchURL::ClearIEWebCache();
        std::printf("clear-cache: status %d\n", int(st));
        return st == kStatusOK ? 0 : 1;
    }
    std::fprintf(stderr, "usage: launch_desktop_probe start | open URL | restart | quit | running | clear-cache\n");
    return 2;
}
