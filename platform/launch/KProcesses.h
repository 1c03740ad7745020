// Finding the user's running programs through /proc. A process runs a program when its
// /proc/PID/exe is the program's file or the first word of its command line names it; the
// short `comm` name is never used (the kernel cuts it to 15 characters).
#pragma once

#include "platform/cf/KStatus.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace KProcesses {

// The files a program named `program` (an absolute path, or a name looked up in PATH) may run
// as: its resolved path, and, when it is a "#!" wrapper script, the programs the script execs.
// Empty when the program cannot be found.
std::vector<std::string> ExecutablesOf(const std::string& program);

// Processes of `uid` (the calling user by default) that run one of `executables` (as made by
// ExecutablesOf, or absolute paths). Zombies and vanished processes are left out. Sorted by PID.
std::vector<pid_t> Find(const std::vector<std::string>& executables, uid_t uid = static_cast<uid_t>(-1));

// Does process `pid` of `uid` run one of `executables`? (Cheap: reads only that process.)
bool Runs(pid_t pid, const std::vector<std::string>& executables, uid_t uid = static_cast<uid_t>(-1));

// kStatusOK when such a process runs (its PID in `pid` when given), else kStatusNoSuchProcess.
OSStatus FindFirst(const std::vector<std::string>& executables, pid_t* pid = nullptr,
                   uid_t uid = static_cast<uid_t>(-1));

// Shorthand: is any of the named programs (paths or names in PATH) running for this user?
bool AnyRunning(const std::vector<std::string>& programs);

// The programs of the desktop's network settings: nm-connection-editor, gnome-control-center,
// systemsettings. Their names, for AnyRunning.
const std::vector<std::string>& NetworkSettingsPrograms();

} // namespace KProcesses
