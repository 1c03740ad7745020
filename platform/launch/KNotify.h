// Desktop notifications (org.freedesktop.Notifications on the session bus). Nothing is shown,
// and nothing waits, when no notification service answers.
#pragma once

#include <string>

namespace KNotify {

// Is a notification service on the session bus, running or startable?
bool ServiceAvailable();

// Sends one notification from "Kavanti" without waiting for the reply; a later one replaces
// the earlier on the screen. False when no service answers (nothing was sent).
bool Send(const std::string& summary, const std::string& body);

// The link came up (2), failed (9) or went down (0) while the window is hidden: tell the user
// with `text`, the status message the dial-up panel would show. False when nothing was sent.
bool LinkStatusChanged(short dialupStatus, bool windowHidden, const std::string& text);

} // namespace KNotify
