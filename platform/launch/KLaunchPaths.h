// XDG folders the desktop layer needs beyond those of KPaths, resolved the same way: in a
// sandbox below its home, otherwise from the XDG variables or their defaults.
#pragma once

#include <string>

namespace KLaunchPaths {
std::string CacheHome();  // $XDG_CACHE_HOME, ~/.cache
std::string StateHome();  // $XDG_STATE_HOME, ~/.local/state
std::string ConfigHome(); // $XDG_CONFIG_HOME, ~/.config
} // namespace KLaunchPaths
