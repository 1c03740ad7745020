// PortUsed as seen by an ordinary user: root ignores a terminal's exclusive mode.
#pragma once

#include "app/card/CSerialPort.h"

#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

// Runs PortUsed in a child that has dropped to `nobody`: root ignores exclusive mode.
// Returns 1 for used, 0 for free, -1 when the child could not run the check.
inline int PortUsedAsNobody(const char* path)
{
    const passwd* pw = getpwnam("nobody");
    if (!pw) return -1;
    const uid_t uid = pw->pw_uid;
    const gid_t gid = pw->pw_gid;
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgid(gid) != 0 || setuid(uid) != 0) _exit(3);
        _exit(CSerialPort::PortUsed(path) ? 1 : 0);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    const int code = WEXITSTATUS(status);
    return code <= 1 ? code : -1;
}

