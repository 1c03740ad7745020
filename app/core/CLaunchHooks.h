// What the core asks of the desktop layer: opening addresses and starting the default
// handlers. app/core sits below it, so the desktop layer registers an implementation; with
// none registered these actions do nothing.
#pragma once

#include "platform/cf/PText.h"

class CLaunchHooks {
public:
    virtual ~CLaunchHooks() = default;
    // Starts the application registered for the scheme of `url` ("http:", "mailto:").
    virtual void LaunchHelper(const char* url) = 0;
    // Opens `url` with its default handler.
    virtual void LaunchURL(const Str255& url) = 0;
    // Restarts the default web browser (after a proxy change).
    virtual void LaunchDefaultBrowser() = 0;
};

void RegisterLaunchHooks(CLaunchHooks* hooks);
CLaunchHooks* GetLaunchHooks();
