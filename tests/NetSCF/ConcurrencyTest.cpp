// Several processes, each in its own locked transaction, read a counter and write it back
// incremented: no increment is lost.
#include "NetSCF/NetSCFServices.h"
#include "NetSCF/NetSCFFixture.h"

#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kProcesses = 4;
constexpr int kRounds = 25;

int Increment()
{
    OSStatus err = NetSCOpen(true, true);
    PRef<PDictionary> counter;
    auto protocol = PStr("Counter");
    if (err == kStatusOK) err = NetSCCopyEntityMutable(nullptr, nullptr, protocol.get(), counter);
    if (err == kStatusOK) {
        const auto* n = counter->GetAs<PNumber>("Value");
        counter->Set("Value", PNum((n ? n->Int64() : 0) + 1));
        err = NetSCSetEntity(nullptr, nullptr, protocol.get(), counter.get());
    }
    NetSCClose(&err, true);
    return err;
}

TEST(netscf_concurrency, LockedIncrementsFromSeveralProcessesAreAllKept)
{
    StoreSandbox box;
    StoreSandbox::WriteTree(*Dict({{"CurrentSet", PStr("/Sets/0")},
                                   {"Sets", Dict({{"0", Dict({{"Network", Dict({{"Global", Dict({{"Counter", Dict({{"Value", PNum(0)}})}})}})}})}})}}));
    std::vector<pid_t> children;
    for (int i = 0; i < kProcesses; ++i) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int r = 0; r < kRounds; ++r)
                if (const OSStatus err = Increment()) {
                    std::fprintf(stderr, "increment failed: %d\n", err);
                    _exit(1);
                }
            _exit(0);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    auto p = SCPreferencesCreate("check");
    ASSERT_TRUE(p);
    auto counter = SCPreferencesPathGetValue(p.get(), "/Sets/0/Network/Global/Counter");
    ASSERT_TRUE(counter);
    EXPECT_TRUE(counter->Get("Value")->Equals(*PNum(kProcesses * kRounds)));
}

} // namespace
