#include "platform/launch/KLaunchPaths.h"

#include "platform/paths/KPaths.h"

#include <cstdlib>

namespace KLaunchPaths {

namespace {
std::string Xdg(const char* var, const char* fallback)
{
    if (KPaths::Root().empty()) {
        const char* v = std::getenv(var);
        if (v && v[0] == '/') {
            std::string s(v);
            while (s.size() > 1 && s.back() == '/') s.pop_back();
            return s;
        }
    }
    const std::string home = KPaths::Home();
    return home.empty() ? home : home + fallback;
}
} // namespace

std::string CacheHome() { return Xdg("XDG_CACHE_HOME", "/.cache"); }
std::string StateHome() { return Xdg("XDG_STATE_HOME", "/.local/state"); }
std::string ConfigHome() { return KPaths::ConfigHome(); }

} // namespace KLaunchPaths
