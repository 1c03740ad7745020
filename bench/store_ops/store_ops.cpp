// One round of the configuration tool on stores of growing size: open with the lock, find a set
// by name, change one entity, commit. The store has N sets of 5 services each (a PPP service on a
// modem, two Ethernet services, an AirPort one and a second modem), written the way the library
// writes them. Run one size per process to read its peak memory:
//   store_ops --benchmark_filter='StoreRound/1000$'
#include "NetSCF/NetSCFAccess.h"
#include "NetSCF/NetSCFEntities.h"
#include "NetSCF/NetSCFServices.h"
#include "NetSCF/NetSCFSets.h"
#include "platform/cf/PList.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

PRef<PDictionary> Entity(const char* protocol, const NetSCDigest& digest)
{
    PRef<PDictionary> e;
    NetSCCreateEntity(PStr(protocol).get(), &digest, e);
    return e;
}

PRef<PDictionary> MakeService(int set, int index)
{
    auto service = PDictionary::CreateMutable();
    const bool modem = index == 0 || index == 4;
    auto name = PStr("Service " + std::to_string(index) + " of set " + std::to_string(set));
    auto dev = PStr(modem ? "ttyUSB" + std::to_string(index) : "eth" + std::to_string(index));
    service->Set("UserDefinedName", name);
    NetSCDigest d;
    d.interface.deviceName = dev.get();
    d.interface.userDefinedName = name.get();
    auto hw = PStr(modem ? "Modem" : index == 3 ? "AirPort" : "Ethernet");
    auto type = PStr(modem ? "PPP" : "Ethernet");
    auto sub = PStr("PPPSerial");
    d.interface.hardware = hw.get();
    d.interface.type = type.get();
    d.interface.subType = modem ? sub.get() : nullptr;
    service->Set("Interface", Entity("Interface", d));
    NetSCDigest ip;
    auto method = PStr(modem ? "PPP" : "DHCP");
    ip.ipv4.configMethod = method.get();
    service->Set("IPv4", Entity("IPv4", ip));
    NetSCDigest proxies;
    service->Set("Proxies", Entity("Proxies", proxies));
    if (modem) {
        NetSCDigest ppp;
        ppp.ppp.active = true;
        auto account = PStr("user@example"), password = PStr("secret"), number = PStr("*99***1#");
        ppp.ppp.authName = account.get();
        ppp.ppp.authPassword = password.get();
        ppp.ppp.commRemoteAddress = number.get();
        service->Set("PPP", Entity("PPP", ppp));
        NetSCDigest m;
        m.modem = kNetSCModemDigestDefault;
        auto script = PStr("PHS-Card");
        m.modem.connectionScript = script.get();
        service->Set("Modem", Entity("Modem", m));
    } else {
        NetSCDigest eth;
        for (int i = 0; i < 6; ++i) eth.ethernet.macAddress[i] = static_cast<uint8_t>(set * 7 + index + i);
        service->Set("Ethernet", Entity("Ethernet", eth));
    }
    return service;
}

std::string WriteStore(int sets, const std::string& root)
{
    auto tree = PDictionary::CreateMutable();
    auto setsDict = PDictionary::CreateMutable();
    auto services = PDictionary::CreateMutable();
    for (int s = 0; s < sets; ++s) {
        auto set = PDictionary::CreateMutable();
        set->Set("UserDefinedName", PStr("Location " + std::to_string(s)));
        auto links = PDictionary::CreateMutable();
        auto order = PArray::CreateMutable();
        for (int i = 0; i < 5; ++i) {
            const std::string id = std::to_string(s * 5 + i);
            services->Set(id, MakeService(s, i));
            auto link = PDictionary::CreateMutable();
            link->Set("__LINK__", PStr("/NetworkServices/" + id));
            links->Set(id, link);
            order->Append(PStr(id));
        }
        auto ipv4 = PDictionary::CreateMutable();
        ipv4->Set("PPPOverridePrimary", PNum(0));
        ipv4->Set("ServiceOrder", order);
        auto global = PDictionary::CreateMutable();
        global->Set("IPv4", ipv4);
        global->Set("NetInfo", PDictionary::CreateMutable());
        auto network = PDictionary::CreateMutable();
        network->Set("Global", global);
        network->Set("Service", links);
        set->Set("Network", network);
        setsDict->Set(std::to_string(s), set);
    }
    tree->Set("CurrentSet", PStr("/Sets/0"));
    tree->Set("Sets", setsDict);
    tree->Set("NetworkServices", services);
    std::string xml;
    PListCreateXMLData(*tree, xml);
    const std::string folder = root + "/var/lib/kavanti";
    std::system(("mkdir -p '" + folder + "'").c_str());
    std::ofstream(folder + "/preferences.plist") << xml;
    return xml;
}

void StoreRound(benchmark::State& state)
{
    const int sets = static_cast<int>(state.range(0));
    char tmpl[] = "/tmp/kv-store-bench-XXXXXX";
    const std::string root = mkdtemp(tmpl);
    setenv("KAVANTI_ROOT", root.c_str(), 1);
    const std::string xml = WriteStore(sets, root);
    // The last set in the dictionary's order: the search visits every set.
    auto wanted = PStr("Location " + std::to_string(sets - 1));
    int round = 0;
    for (auto _ : state) {
        OSStatus err = NetSCOpen(true, true);
        PRef<PString> setID;
        if (err == kStatusOK) err = NetSCFindSetByUserVisibleNameAndCopyID(wanted.get(), setID);
        PRef<PArray> ids;
        if (err == kStatusOK) err = NetSCCopyServiceIDs(setID.get(), &ids, nullptr);
        NetSCDigest proxies;
        auto host = PStr("proxy" + std::to_string(++round) + ".example");
        proxies.proxies.httpEnable = true;
        proxies.proxies.httpProxy = host.get();
        proxies.proxies.httpPort = 8080;
        PRef<PDictionary> entity;
        if (err == kStatusOK) err = NetSCCreateEntity(PStr("Proxies").get(), &proxies, entity);
        if (err == kStatusOK)
            err = NetSCSetEntity(setID.get(), PRefCast<PString>(ids->RefAt(0)).get(), PStr("Proxies").get(), entity.get());
        NetSCClose(&err, true);
        if (err != kStatusOK) {
            state.SkipWithError(("round failed: " + std::to_string(err)).c_str());
            break;
        }
    }
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    state.counters["store_KiB"] = static_cast<double>(xml.size()) / 1024.0;
    state.counters["peak_rss_MiB"] = static_cast<double>(ru.ru_maxrss) / 1024.0;
    // KAVANTI_BENCH_KEEP=1 keeps the sandbox (its path goes to standard error) for a closer look.
    if (getenv("KAVANTI_BENCH_KEEP")) fprintf(stderr, "store kept in %s\n", root.c_str());
    else std::system(("rm -rf '" + root + "'").c_str());
}

BENCHMARK(StoreRound)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
