// Administrator rights on Linux: sudo checks the password of the user who runs it, read from
// standard input (-S), never from an argument, the environment or a file. KAVANTI_SUDO names
// another program with sudo's command line (the sandbox's stand-in); unset means "sudo".
#pragma once

#include "platform/cf/KStatus.h"

#include <string>
#include <string_view>
#include <vector>

constexpr OSStatus kAuthorizationDenied = -60005; // the credentials were refused

namespace KPrivilege {

// $KAVANTI_SUDO, or "sudo".
std::string SudoProgram();
// The login name of the user running this program ("" when unknown): whose password sudo asks for.
std::string LoginName();
// sudo ends a password line at "\n" or "\r", so a password holding either cannot be typed to it.
bool IsUsablePassword(std::string_view password);

// `sudo -S -k -p "" -v` with the password on standard input: 0 granted, kAuthorizationDenied
// refused, or a status when sudo could not be started (-43 when it is not installed).
// `passwordRead`, when given, tells whether sudo read the password line at all (root and
// NOPASSWD rules grant without reading it).
OSStatus CheckPassword(std::string_view password, bool* passwordRead = nullptr);

// `sudo -S -k -p "" -- program args...`. The password (when given) and a newline go to standard
// input first.
// When `afterReady` is given, it is written (with a newline) only once the program has written
// the line "ready" on its standard output; a refused sudo never sees it. Everything else the
// program writes on standard output is passed on to ours. Waits for that child only.
// 0 with `exitStatus` set (0..255, or 128+signal), or a status when it could not be started.
OSStatus RunWithPassword(const std::string& program, const std::vector<std::string>& args,
                         const std::string_view* password, const std::string* afterReady, int& exitStatus);

} // namespace KPrivilege

// The authorization session of one application run: the credentials that sudo last granted,
// kept in memory only and wiped when the session ends.
class KAuthorization {
public:
    KAuthorization() = default;
    ~KAuthorization() { Free(); }
    KAuthorization(const KAuthorization&) = delete;
    KAuthorization& operator=(const KAuthorization&) = delete;

    // Checks the credentials with sudo. A user name other than the login name is refused at once
    // (sudo asks for the login user's own password), as is a password sudo cannot read.
    // 0 when granted; the session then holds them.
    OSStatus CopyRights(std::string_view userName, std::string_view password);
    bool IsGranted() const { return mGranted; }

    // Runs the program through sudo with the granted password (kAuthorizationDenied when none is held).
    OSStatus ExecuteWithPrivileges(const std::string& program, const std::vector<std::string>& args,
                                   const std::string* afterReady, int& exitStatus);

    // Forgets the rights and wipes the password.
    void Free();

private:
    std::string mPassword;
    bool mGranted = false;
    bool mSudoReadsPassword = true; // sudo read the password line when the rights were granted
};
