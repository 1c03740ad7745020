// A desktop sandbox for the launch tests: KAVANTI_ROOT and the XDG folders in a temp folder,
// stub programs registered through desktop entries and mimeapps.list as the default "http"
// and "mailto" handlers. Each stub appends how it was started to <stub>/NAME.log and its PID to
// NAME.pids, then does what NAME.mode says: "stay" (the default), "exit", or "ignore-term".
//
// GLib reads the XDG variables once per process, so there is one sandbox per test process;
// tests reset it with Reset().
#pragma once

#include "support/TempDir.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

class LaunchSandbox {
public:
    static LaunchSandbox& Get()
    {
        if (!Instance()) Instance().reset(new LaunchSandbox);
        return *Instance();
    }
    // Kills the stubs and removes the sandbox; from the test environment's TearDown.
    static void Destroy() { Instance().reset(); }
    ~LaunchSandbox() { KillStubs(); }

    const std::string& root() const { return mDir.path(); }
    std::string bin(const std::string& name) const { return root() + "/bin/" + name; }
    std::string stubFile(const std::string& name, const std::string& ext) const
    {
        return root() + "/stub/" + name + "." + ext;
    }

    // Writes a stub program NAME in the sandbox's bin folder (found first in PATH).
    void AddStub(const std::string& name)
    {
        const std::string d = root() + "/stub";
        WriteFileText(bin(name),
                      "#!/bin/bash\n"
                      "n=" + name + "\nd='" + d + "'\n"
                      "echo $$ >> \"$d/$n.pids\"\n"
                      "line=start; for a in \"$@\"; do line=\"$line [$a]\"; done\n"
                      "echo \"$line http_proxy=$http_proxy\" >> \"$d/$n.log\"\n"
                      "mode=$(cat \"$d/$n.mode\" 2>/dev/null)\n"
                      "case \"$mode\" in\n"
                      "  exit) exit 0 ;;\n"
                      "  ignore-term) trap '' TERM; exec -a \"$0\" sleep 600 ;;\n"
                      "  *) exec -a \"$0\" sleep 600 ;;\n"
                      "esac\n");
        std::filesystem::permissions(bin(name), std::filesystem::perms::owner_all);
    }

    void SetMode(const std::string& name, const std::string& mode) { WriteFileText(stubFile(name, "mode"), mode); }

    std::vector<std::string> Starts(const std::string& name) const
    {
        std::vector<std::string> lines;
        std::ifstream in(stubFile(name, "log"));
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }

    // Waits until the stub has been started `count` times in all (false after 20 s).
    bool WaitStarts(const std::string& name, size_t count) const
    {
        for (int i = 0; i < 2000; ++i) {
            if (Starts(name).size() >= count) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    // Waits until the stub's latest start has settled into its final program (sleep): before
    // that its shell is still setting up (and forking for $(...)).
    bool WaitReady(const std::string& name) const
    {
        for (int i = 0; i < 2000; ++i) {
            const auto pids = Pids(name);
            if (!pids.empty()) {
                std::error_code ec;
                const auto exe = std::filesystem::read_symlink("/proc/" + std::to_string(pids.back()) + "/exe", ec);
                if (!ec && exe.filename() == "sleep") return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    std::vector<pid_t> Pids(const std::string& name) const
    {
        std::vector<pid_t> pids;
        std::ifstream in(stubFile(name, "pids"));
        for (pid_t p; in >> p;) pids.push_back(p);
        return pids;
    }

    // Kills every stub still running, reaps them (this process is their subreaper) and empties
    // the logs and modes.
    void Reset()
    {
        KillStubs();
        for (const char* n : {"chromium", "kvmail", "firefox", "nm-connection-editor"})
            for (const char* ext : {"log", "pids", "mode"}) std::filesystem::remove(stubFile(n, ext));
    }

    // Every process running one of the stubs (as its argv[0], or as the script bash runs).
    void KillStubs()
    {
        const std::string prefix = root() + "/bin/";
        std::vector<pid_t> victims;
        for (const auto& e : std::filesystem::directory_iterator("/proc")) {
            const std::string n = e.path().filename().string();
            if (n.empty() || n.find_first_not_of("0123456789") != std::string::npos) continue;
            std::ifstream in(e.path() / "cmdline");
            std::string a0, a1;
            std::getline(in, a0, '\0');
            std::getline(in, a1, '\0');
            if (a0.rfind(prefix, 0) == 0 || a1.rfind(prefix, 0) == 0) victims.push_back(std::stoi(n));
        }
        for (pid_t p : victims) kill(p, SIGKILL);
        for (pid_t p : victims)
            for (int i = 0; i < 200; ++i) {
                if (waitpid(p, nullptr, WNOHANG) != 0) break; // reaped, or not ours to reap
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        Reap();
    }

    // A stub started by the test itself (not through GIO); killed by Reset.
    pid_t Spawn(const std::string& name)
    {
        const pid_t pid = fork();
        if (pid == 0) {
            execl(bin(name).c_str(), bin(name).c_str(), nullptr);
            _exit(127);
        }
        return pid;
    }

    static void Reap()
    {
        while (waitpid(-1, nullptr, WNOHANG) > 0) {
        }
    }

private:
    static std::unique_ptr<LaunchSandbox>& Instance()
    {
        static std::unique_ptr<LaunchSandbox> s;
        return s;
    }

    LaunchSandbox()
    {
        // Launched programs are orphaned by GLib's spawn; as their subreaper this process can
        // reap them, so none is left behind as a zombie.
        prctl(PR_SET_CHILD_SUBREAPER, 1);
        const std::string home = root() + "/home";
        setenv("KAVANTI_ROOT", root().c_str(), 1);
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
        setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
        setenv("XDG_CACHE_HOME", (home + "/.cache").c_str(), 1);
        setenv("XDG_STATE_HOME", (home + "/.local/state").c_str(), 1);
        setenv("XDG_CONFIG_DIRS", (root() + "/etc/xdg").c_str(), 1);
        // The system's applications stay out; its schemas (the desktop proxy) stay in.
        setenv("XDG_DATA_DIRS", (root() + "/usr/share").c_str(), 1);
        setenv("GSETTINGS_SCHEMA_DIR", "/usr/share/glib-2.0/schemas", 1);
        setenv("GSETTINGS_BACKEND", "keyfile", 1);
        setenv("PATH", (root() + "/bin:/usr/bin:/bin").c_str(), 1);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        unsetenv("http_proxy");
        unsetenv("HTTP_PROXY");

        std::filesystem::create_directories(root() + "/stub");
        std::filesystem::create_directories(root() + "/usr/share");
        for (const char* n : {"chromium", "kvmail", "firefox", "nm-connection-editor"}) AddStub(n);
        const std::string apps = home + "/.local/share/applications/";
        WriteFileText(apps + "kvstub-chromium.desktop",
                      "[Desktop Entry]\nType=Application\nName=Stub Chromium\nExec=" + bin("chromium") + " %u\n");
        WriteFileText(apps + "kvstub-mail.desktop",
                      "[Desktop Entry]\nType=Application\nName=Stub Mail\nExec=" + bin("kvmail") + " %u\n");
        WriteFileText(home + "/.config/mimeapps.list",
                      "[Default Applications]\n"
                      "x-scheme-handler/http=kvstub-chromium.desktop\n"
                      "x-scheme-handler/https=kvstub-chromium.desktop\n"
                      "x-scheme-handler/mailto=kvstub-mail.desktop\n");
    }

    TempDir mDir;
};
