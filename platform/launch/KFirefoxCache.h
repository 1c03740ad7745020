// Clearing Firefox's disk cache: the contents of every profile's cache2 folder, nothing else.
// Profiles come from profiles.ini (and the default of installs.ini) in both of Firefox's
// configuration folders; a profile's prefs.js/user.js may move its cache
// (browser.cache.disk.parent_directory).
#pragma once

#include "platform/cf/KStatus.h"

#include <string>
#include <vector>

namespace KFirefoxCache {

// Firefox's configuration folders: $XDG_CONFIG_HOME/mozilla/firefox, ~/.mozilla/firefox.
std::vector<std::string> ProfileRoots();

// The cache2 folder of every known profile, without duplicates, in the order found.
std::vector<std::string> CacheFolders();

// Deletes what is inside each cache2 folder, never following a link out of it; the folder
// itself stays. 0, or the first error met (-43 when there is no profile or a profile has no
// cache folder); every profile is tried whatever the others gave.
OSStatus Clear();

// The value a prefs.js/user.js text gives `name` as a string ("" when it sets none); the last
// setting wins, as when Firefox reads the file.
std::string StringPref(const std::string& fileText, const std::string& name);

} // namespace KFirefoxCache
