// Runs "KavantiTool -c" on stores of 10, 100 and 1000 locations with 5 services each (the
// location "KVAUTODL" among them) and reports, per size, the median and maximum wall time of
// a run and its peak resident memory.
//
//   bench_tool_run [--runs N] [--sizes 10,100,1000] [--tool PATH]
#include "platform/cf/PList.h"
#include "platform/cf/PValue.h"

#include <csignal>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

PRef<PDictionary> Dict() { return PDictionary::CreateMutable(); }

PRef<PDictionary> Service(int set, int n, bool card)
{
    auto s = Dict();
    s->Set("UserDefinedName", PStr(card ? "pccard-modem-port" : "Port " + std::to_string(n)));
    auto iface = Dict();
    iface->Set("DeviceName", PStr(card ? "pccard-modem" : "eth" + std::to_string(n)));
    iface->Set("Hardware", PStr(card ? "Modem" : "Ethernet"));
    iface->Set("Type", PStr(card ? "PPP" : "Ethernet"));
    iface->Set("UserDefinedName", PStr(card ? "pccard-modem-port" : "Port " + std::to_string(n)));
    s->Set("Interface", iface);
    auto ppp = Dict();
    for (const char* k : {"DialOnDemand", "DisconnectOnIdle", "DisconnectOnLogout", "IdleReminder",
                          "VerboseLogging", "CommRedialEnabled", "IPCPCompressionVJ", "LCPEchoEnabled"})
        ppp->Set(k, PNum(1));
    ppp->Set("Logfile", PStr("/tmp/ppp.log"));
    ppp->Set("AuthName", PStr("user" + std::to_string(set)));
    ppp->Set("CommRemoteAddress", PStr("0570570711##61"));
    s->Set("PPP", ppp);
    auto modem = Dict();
    modem->Set("ConnectionScript", PStr("SUNTAC Slipper"));
    modem->Set("DialMode", PStr("WaitForDialTone"));
    s->Set("Modem", modem);
    auto proxies = Dict();
    for (const char* k : {"FTPEnable", "GopherEnable", "HTTPEnable", "HTTPSEnable", "RTSPEnable", "SOCKSEnable"})
        proxies->Set(k, PNum(0));
    s->Set("Proxies", proxies);
    auto ipv4 = Dict();
    ipv4->Set("ConfigMethod", PStr(card ? "PPP" : "DHCP"));
    s->Set("IPv4", ipv4);
    s->Set("DNS", Dict());
    return s;
}

// `sets` locations of 5 services; the last is "KVAUTODL" with the card's service.
bool WriteStore(const std::string& path, int sets)
{
    auto root = Dict();
    auto setsDict = Dict();
    auto services = Dict();
    for (int i = 0; i < sets; ++i) {
        const std::string setID = "SET-" + std::to_string(i);
        auto set = Dict();
        set->Set("UserDefinedName", PStr(i == sets - 1 ? "KVAUTODL" : "Location " + std::to_string(i)));
        auto links = Dict();
        auto order = PArray::CreateMutable();
        for (int k = 0; k < 5; ++k) {
            const std::string id = "SVC-" + std::to_string(i) + "-" + std::to_string(k);
            auto link = Dict();
            link->Set("__LINK__", PStr("/NetworkServices/" + id));
            links->Set(id, link);
            order->Append(PStr(id));
            services->Set(id, Service(i, k, i == sets - 1 && k == 4));
        }
        auto ipv4 = Dict();
        ipv4->Set("PPPOverridePrimary", PNum(0));
        ipv4->Set("ServiceOrder", order);
        auto global = Dict();
        global->Set("IPv4", ipv4);
        global->Set("NetInfo", Dict());
        auto network = Dict();
        network->Set("Global", global);
        network->Set("Service", links);
        set->Set("Network", network);
        setsDict->Set(setID, set);
    }
    root->Set("CurrentSet", PStr("/Sets/SET-0"));
    root->Set("Sets", setsDict);
    root->Set("NetworkServices", services);
    std::string xml;
    if (!PListCreateXMLData(*root, xml)) return false;
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << xml;
    return true;
}

// A child process builds the store, so this process stays small: a child forked to run the tool
// would otherwise carry this process's memory into its peak-memory figure.
bool WriteStoreInChild(const std::string& path, int sets)
{
    const pid_t pid = fork();
    if (pid == 0) _exit(WriteStore(path, sets) ? 0 : 1);
    int st = 0;
    return pid > 0 && waitpid(pid, &st, 0) == pid && WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

struct Run {
    double ms = 0;
    long maxRssKb = 0;
    int status = -1;
};

Run RunTool(const std::string& tool, const std::string& root, int n)
{
    const std::string num = std::to_string(n);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("KAVANTI_ROOT", root.c_str(), 1);
        freopen("/dev/null", "w", stderr);
        execl(tool.c_str(), tool.c_str(), "-c", "pccard-modem", "KVAUTODL", ("0570570711##6" + num).c_str(),
              ("user" + num).c_str(), "secret", "proxy.example", "32080", "/usr/share/kavanti/modem-scripts/SUNTAC Slipper",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int st = 0;
    rusage ru{};
    wait4(pid, &st, 0, &ru);
    Run r;
    r.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    r.maxRssKb = ru.ru_maxrss;
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    signal(SIGPIPE, SIG_IGN); // a reader that went away is an EPIPE to handle, not our death
    std::string tool = KAVANTI_TOOL_PATH;
    int runs = 15;
    bool keep = false;
    std::vector<int> sizes = {10, 100, 1000};
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--keep") {
            keep = true;
        } else if (a == "--tool" && i + 1 < argc) {
            tool = argv[++i];
        } else if (a == "--sizes" && i + 1 < argc) {
            sizes.clear();
            std::string list = argv[++i];
            for (size_t p = 0; p < list.size();) {
                const size_t q = list.find(',', p);
                sizes.push_back(std::atoi(list.substr(p, q - p).c_str()));
                p = q == std::string::npos ? list.size() : q + 1;
            }
        } else {
            std::printf("usage: bench_tool_run [--runs N] [--sizes 10,100,1000] [--tool PATH] [--keep]\n"
                        "Times \"KavantiTool -c\" on stores of that many locations x 5 services.\n"
                        "--keep leaves the sandbox of the last size for profiling and prints its path.\n");
            return a == "--help" ? 0 : 2;
        }
    }

    std::string tmpl = (fs::temp_directory_path() / "kavanti-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) return 1;
    const std::string root = tmpl;
    const std::string store = root + "/var/lib/kavanti/preferences.plist";

    std::printf("KavantiTool -c, %d runs per size (%s)\n", runs, tool.c_str());
    std::printf("%8s %12s %12s %12s %14s\n", "sets", "store KB", "median ms", "max ms", "peak RSS MB");
    double medianBySize[3] = {0, 0, 0};
    for (size_t s = 0; s < sizes.size(); ++s) {
        if (!WriteStoreInChild(store, sizes[s])) return 1;
        const auto storeKb = fs::file_size(store) / 1024;
        RunTool(tool, root, 0); // warm the page cache
        std::vector<double> times;
        long rss = 0;
        for (int i = 0; i < runs; ++i) {
            const Run r = RunTool(tool, root, i % 2);
            if (r.status != 0) {
                std::fprintf(stderr, "KavantiTool failed with exit status %d on %d sets\n", r.status, sizes[s]);
                return 1;
            }
            times.push_back(r.ms);
            rss = std::max(rss, r.maxRssKb);
        }
        std::sort(times.begin(), times.end());
        const double median = times[times.size() / 2];
        if (s < 3) medianBySize[s] = median;
        std::printf("%8d %12ju %12.1f %12.1f %14.1f\n", sizes[s], static_cast<uintmax_t>(storeKb), median,
                    times.back(), rss / 1024.0);
    }
    if (sizes.size() == 3 && medianBySize[1] > 0)
        std::printf("t(%d)/t(%d) = %.1f\n", sizes[2], sizes[1], medianBySize[2] / medianBySize[1]);
    if (keep) std::printf("sandbox kept: %s\n", root.c_str());
    else fs::remove_all(root);
    return 0;
}
