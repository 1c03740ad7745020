// Where Kavanti's files live. KAVANTI_ROOT moves every system path (and the user's home) below
// one folder, so tests and the demo never touch the real system; KAVANTI_RESOURCES names
// another resources folder than the one beside the executable.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace KPaths {

// The sandbox root, or "" when none is set.
std::string Root();

// A system path such as "/etc/ppp/peers/kavanti", moved below the sandbox root when there is one.
std::string System(std::string_view absolutePath);

// In a sandbox, points HOME and the XDG base variables (config, data, cache, state) at the
// sandbox home, so that libraries reading them (GIO, GSettings) see the sandbox too. Outside a
// sandbox it changes nothing. Call it first thing in main(), before any thread starts.
void EnterSandboxEnvironment();

// The user's home ($KAVANTI_ROOT/home in a sandbox); "" when it cannot be found.
std::string Home();
// XDG base folders ("" when the home cannot be found). In a sandbox the XDG variables are
// ignored: they name the real user's folders.
std::string ConfigHome();
std::string DataHome();

// The user's preferences folder and file ("" when the home cannot be found).
std::string PreferencesFolder();
std::string PreferencesFile();

// The folder holding the running executable ("" when unknown).
std::string ExecutableDir();
// The application's resources (DefaultPref.plist, modem scripts, ...).
std::string ResourcesFolder();
// Where KavantiTool is installed.
std::string LibexecFolder();
std::string ToolPath();

std::string StorePath();
std::string StoreLockPath();
std::string PeerFilePath();
std::string DevicePath(std::string_view ttyName);
std::string SysfsRoot();

// Modem-script folders: user, network, local, system domain, in that order.
std::vector<std::string> ModemScriptFolders();

// mkdir -p with `mode` for the folders it creates; 0 or an errno value.
int MakeFolders(const std::string& path, unsigned mode = 0755);

} // namespace KPaths

namespace KPaths {
// Writes `bytes` to a temporary file beside `path`, flushes it and renames it over `path`, so a
// crash leaves either the old file or the new one, whole. The file gets `mode`. 0 or an errno value.
int WriteFileAtomically(const std::string& path, const std::string& bytes, unsigned mode);
} // namespace KPaths
