// Sandbox folders for tests that are removed even when the test process dies: a small reaper
// (/bin/sh) holds the read end of a pipe, is told each folder as it is made, and removes them
// all when the pipe closes, which the kernel does on any death of the test, SIGKILL included.
// The folders' own owners still remove them at once on a normal end.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <spawn.h>
#include <string>
#include <unistd.h>

extern char** environ;

namespace kvtest {

inline int SandboxReaperFd()
{
    static int fd = -1;
    static std::once_flag once;
    std::call_once(once, [] {
        int p[2];
        if (pipe2(p, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, p[0], 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        // One absolute path a line; only folders below the temp folder that this process made.
        static const char script[] =
            "paths=$(cat); IFS='\n'; set -f; for p in $paths; do rm -rf -- \"$p\"; done";
        char* argv[] = {const_cast<char*>("/bin/sh"), const_cast<char*>("-c"), const_cast<char*>(script),
                        nullptr};
        pid_t pid;
        const int err = posix_spawn(&pid, "/bin/sh", &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(p[0]);
        if (err != 0) {
            close(p[1]);
            return;
        }
        // Not waited for: it ends right after this process, when the pipe closes.
        fd = p[1];
    });
    return fd;
}

// Makes a fresh folder $TMPDIR/<stem>-XXXXXX and hands it to the reaper; empty on failure.
inline std::string MakeSandboxDir(const char* stem)
{
    std::string tmpl = (std::filesystem::temp_directory_path() / (std::string(stem) + "-XXXXXX")).string();
    if (!mkdtemp(tmpl.data())) return {};
    if (const int fd = SandboxReaperFd(); fd >= 0) {
        const std::string line = tmpl + "\n";
        ssize_t n;
        do {
            n = write(fd, line.data(), line.size());
        } while (n < 0 && errno == EINTR);
    }
    return tmpl;
}

} // namespace kvtest
