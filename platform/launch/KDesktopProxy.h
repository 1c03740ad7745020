// The accelerator proxy taking effect on the desktop while the link is up: the desktop's HTTP
// proxy (GSettings org.gnome.system.proxy, mode "manual") and the environment of the programs
// Kavanti starts. The desktop's earlier settings are saved in $XDG_STATE_HOME/kavanti/ before
// anything is changed, so a crashed run's next start can put them back.
#pragma once

#include "platform/cf/KStatus.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace KDesktopProxy {

// Makes host:port the HTTP proxy. An empty host means no accelerator: the same as Restore.
// Called again while a proxy is in effect, it changes the proxy and keeps the first saved
// settings. A desktop without the schema is left alone; the environment still carries the
// proxy. -50 for a host or port that cannot be a proxy; -54 when the earlier settings cannot
// be saved (the desktop is then not changed).
OSStatus Apply(const std::string& host, uint16_t port);

// The same with the card service's proxy as the store keeps it: host "NULL" (or empty) means
// no accelerator; the port text must be digits only, 1 to 65535, else -50.
OSStatus Apply(const std::string& host, const std::string& portText);

// Puts the saved desktop settings back (link down, quit) and drops the proxy from the
// environment of programs started afterwards. Settings the user changed while the link was
// up are theirs and stay. 0 also when nothing was saved.
OSStatus Restore();

// At start: settings saved by a run that ended without Restore (a crash, a kill) are put back.
// Call it after the single-instance check, before the first Apply.
OSStatus RecoverAfterCrash();

// The proxy in effect for started programs ("" when none).
std::string CurrentProxyURL();

// Variables for the environment of programs Kavanti starts (empty when no proxy is in effect).
std::vector<std::pair<std::string, std::string>> Environment();

// The file holding the saved settings.
std::string SavedSettingsPath();

} // namespace KDesktopProxy
