// bench_app_start [RUNS]: starts kavanti RUNS times (default 20) in a sandbox whose card port is
// kavanti-cardsim on a pseudo-terminal, offscreen, and reports the time from the start of the
// process to its main window shown (kavanti ends itself right then when
// KAVANTI_BENCH_EXIT_WHEN_SHOWN is set) and the process's peak resident memory.
#include "platform/paths/KPaths.h"
#include "support/FakeSysfs.h"
#include "support/TempDir.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

pid_t Spawn(std::vector<std::string> args, const std::vector<std::string>& extraEnv)
{
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e) envStore.emplace_back(*e);
    envStore.insert(envStore.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> envp;
    for (auto& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const std::string stage = KAVANTI_BENCH_STAGE;
    SandboxRoot root;
    FakeSysfs sysfs{root.Path()};
    sysfs.Device("pcmcia0/0.0", "pcmcia");
    sysfs.Tty("ttyS1", "pcmcia0/0.0");
    std::filesystem::create_directories(root.Path() + "/dev");
    const std::string device = KPaths::DevicePath("ttyS1");
    const pid_t card = Spawn({stage + "/bin/kavanti-cardsim", "--link", device}, {});
    for (int i = 0; i < 200 && !std::filesystem::exists(device); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (card < 0 || !std::filesystem::exists(device)) {
        std::fprintf(stderr, "bench_app_start: the card simulator did not start\n");
        return 1;
    }

    std::vector<double> ms;
    long peakKiB = 0;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const pid_t pid = Spawn({stage + "/bin/kavanti"},
                                {"QT_QPA_PLATFORM=offscreen", "KAVANTI_BENCH_EXIT_WHEN_SHOWN=1",
                                 "KAVANTI_PPPD=/bin/false"});
        int status = 0;
        rusage ru {};
        if (pid < 0 || wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "bench_app_start: kavanti did not start and end cleanly (status %d)\n", status);
            kill(card, SIGTERM);
            waitpid(card, nullptr, 0);
            return 1;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        peakKiB = std::max(peakKiB, ru.ru_maxrss);
    }
    kill(card, SIGTERM);
    waitpid(card, nullptr, 0);

    std::sort(ms.begin(), ms.end());
    std::printf("kavanti start to main window shown, offscreen, simulated card, %d runs:\n", runs);
    std::printf("  median %.1f ms, min %.1f ms, max %.1f ms (target 400 ms)\n", ms[ms.size() / 2], ms.front(), ms.back());
    std::printf("  peak resident memory %.1f MB (target 80 MB)\n", peakKiB / 1024.0);
    return 0;
}
