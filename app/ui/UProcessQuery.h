// Is a program running for this user? Looked up in /proc by the executable (/proc/PID/exe) or
// the first word of the command line, never by the 15-character `comm`.
#pragma once

#include <string>
#include <vector>

namespace UProcessQuery {

// True when a process of the current user runs one of `programs`: each entry is either an
// absolute path (matched against the resolved executable and argv[0]) or a bare file name
// (matched against the file names of both). `procRoot` is for tests.
bool IsRunning(const std::vector<std::string>& programs, const std::string& procRoot = "/proc");

// The system network settings applications (caution 6).
const std::vector<std::string>& SystemSettingsPrograms();
// The browser whose cache the accelerator panel deletes (caution 8): Firefox.
const std::vector<std::string>& CacheBrowserPrograms();

} // namespace UProcessQuery
