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

// An errno value as a status callers can pass on: a missing file or folder is "not found".
inline OSStatus StatusFromErrno(int e)
{
    switch (e) {
    case ENOENT:
    case ENOTDIR: return kStatusFileNotFound;
    case ENOMEM: return kStatusNoMemory;
    default: return kStatusFileAccess;
    }
}
