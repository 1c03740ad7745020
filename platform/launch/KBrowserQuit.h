// Asking a browser to quit the way a person's Quit does: its windows are closed through the
// window manager (X11), or, for browsers known to quit cleanly on it, SIGTERM. Never a kill
// that the browser would take for a crash (Firefox offers to restore its session after SIGTERM).
#pragma once

#include "platform/cf/KStatus.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace KBrowserQuit {

// Chromium and the browsers built on it save their state and quit on SIGTERM.
bool QuitsCleanlyOnTerm(const std::string& desktopId, const std::vector<std::string>& executables);

// Closes the top-level X11 windows of `pids` (through _NET_CLOSE_WINDOW when the window
// manager offers it, else WM_DELETE_WINDOW); when there are none to close and `termIsClean`,
// sends SIGTERM to the browser's first process. 0 when the browser was asked;
// kStatusEventNotHandled when it could not be asked.
OSStatus AskToQuit(const std::vector<pid_t>& pids, bool termIsClean);

// The X11 part alone: the number of windows asked to close (0 without a display).
int CloseWindowsOf(const std::vector<pid_t>& pids);

} // namespace KBrowserQuit
