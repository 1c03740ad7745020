// Status codes: 0 is success; the platform's error numbers that callers pass on.
#pragma once

#include <cerrno>
#include <cstdint>

using OSStatus = int32_t;

constexpr OSStatus kStatusOK = 0;
constexpr OSStatus kStatusFileNotFound = -43;   // a file or folder does not exist
constexpr OSStatus kStatusBadParam = -50;       // bad parameter, request refused
constexpr OSStatus kStatusFileAccess = -54;     // a file cannot be opened or written
constexpr OSStatus kStatusNoMemory = -108;      // out of memory
constexpr OSStatus kStatusNoSuchProcess = -600; // no such process
constexpr OSStatus kStatusEventNotHandled = -1708;    // a program could not be asked (to quit)
constexpr OSStatus kStatusLaunchFailed = -10810;      // a handler program could not be started
constexpr OSStatus kStatusApplicationNotFound = -10814; // no program handles the URL
constexpr OSStatus kStatusValueNotMade = -4960; // a value could not be made
constexpr OSStatus kStatusUserCancelled = -60006; // the user cancelled the administrator dialog

// An errno value as a status callers can pass on: the one table for every layer. A missing
// file or folder is "not found"; `otherwise` is what an errno the table does not name becomes,
// 0 included: a call that failed without saying why has still failed.
inline OSStatus StatusFromErrno(int e, OSStatus otherwise = kStatusFileAccess)
{
    switch (e) {
    case ENOENT:
    case ENOTDIR: return kStatusFileNotFound;
    case EACCES:
    case EPERM:
    case ENOEXEC: return kStatusFileAccess;
    case ENOMEM:
    case EAGAIN:
    case EMFILE:
    case ENFILE: return kStatusNoMemory;
    case ESRCH: return kStatusNoSuchProcess;
    default: return otherwise;
    }
}
