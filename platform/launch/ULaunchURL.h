// The application's dealings with other desktop programs: the default handlers of "http:" and
// "mailto:" (GIO), opening URLs, restarting the default browser so that it picks up a changed
// proxy, and clearing the web browser's disk cache.
#pragma once

#include "platform/cf/KStatus.h"
#include "platform/cf/PText.h"
#include "platform/shell/KPeriodical.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

class ULaunchURL {
public:
    // Starts the default handler of the URL's scheme without a document ("http:" starts the
    // web browser). -50 when the text is not a URL; kStatusApplicationNotFound when nothing
    // handles the scheme.
    static OSStatus LaunchHelper(std::string_view url);

    // The default handler of the URL's scheme; its desktop-entry id ("firefox-esr.desktop")
    // stands for the program's creator code.
    static OSStatus GetHelperCreator(std::string_view url, std::string& creator);

    // Starts the default web browser, or, if it runs, asks it to quit as a person's Quit would
    // and starts it again once it has gone (within 300 ticks). When it cannot be asked without
    // risking the user's session, it is left running, the user is told (SetRestartNotice) and
    // the result is kStatusEventNotHandled.
    static OSStatus LaunchDefaultBrowser();

    // Opens the URL with its default handler. -50 for an empty or scheme-less text.
    static OSStatus LaunchURL(const Str255& url);

    // Deletes the contents of every Firefox profile's disk cache (cache2) and nothing else.
    // 0, or the first error met (-43 when a profile has no cache folder, or there are no profiles).
    static OSStatus ClearIEWebCache();

    // The process search: 0 (and the first PID) when a process runs the program of the desktop
    // entry `creator`, else -600.
    static OSStatus FindProcess(const std::string& creator, pid_t* pid = nullptr);

    // Is the cache-clearing browser (Firefox) running for this user? For the Apply check.
    static bool IsCacheBrowserRunning();
    // Is the desktop's network settings program running for this user? For the Apply check.
    static bool IsNetworkSettingsRunning();

    // Told, with the browser's name, when the browser must be restarted by the user to use the
    // new proxy. Unset: a desktop notification says so.
    using RestartNotice = std::function<void(const std::string& browserName)>;
    static void SetRestartNotice(RestartNotice notice);
    static void NoticeRestartNeeded(const std::string& creator);

    // The executables a desktop entry's program runs as (for the process search).
    static std::vector<std::string> ExecutablesOfEntry(const std::string& creator);
};

// Completes a browser restart: waits on idle time until the old browser has gone, then starts
// it again; after the deadline it gives up and leaves the old one running. Deletes itself.
class CWaitForTheEnd : public KPeriodical {
public:
    // Starts a wait for the browser `creator` whose processes are `pids`, giving up `period`
    // ticks from now. The returned object deletes itself.
    static CWaitForTheEnd* Starter(const std::string& creator, uint32_t period, std::vector<pid_t> pids = {});

    ~CWaitForTheEnd() override;
    void SpendTime() override;

    static size_t LiveCount(); // waits still running

private:
    CWaitForTheEnd(const std::string& creator, uint32_t deadline, std::vector<pid_t> pids);
    bool StillRuns();

    std::string mCreator;
    uint32_t mDeadline;
    std::vector<std::string> mExecutables;
    std::vector<pid_t> mPids;
};
