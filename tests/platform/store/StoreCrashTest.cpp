// A writer killed at random moments of its commits leaves the store whole: after every kill the
// file parses and holds exactly the state of one complete commit, the one before the kill or the
// one the writer was finishing.
#include "platform/store/SCPreferences.h"
#include "support/StoreSandbox.h"

#include <csignal>
#include <cstdio>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kEntries = 500; // about 30 KiB of XML per commit

// The whole state of generation `g`: every entry carries the generation, so a file mixing two
// commits cannot pass for one.
PRef<PDictionary> Payload(int64_t g)
{
    auto d = PDictionary::CreateMutable();
    for (int i = 0; i < kEntries; ++i)
        d->Set(std::to_string(i), PStr("entry " + std::to_string(i) + " of generation " + std::to_string(g)));
    return d;
}

int64_t GenerationOf(const PDictionary& tree)
{
    const auto* n = tree.GetAs<PNumber>("Generation");
    return n ? n->Int64() : -1;
}

// Commits generation after generation until killed; tells `ready` before each commit.
[[noreturn]] void Writer(int ready)
{
    auto p = SCPreferencesCreate("crash-writer");
    if (!p) _exit(2);
    for (;;) {
        if (!SCPreferencesLock(p.get(), true)) _exit(3);
        auto g = PRefCast<PNumber>(SCPreferencesGetValue(p.get(), "Generation"));
        const int64_t next = (g ? g->Int64() : 0) + 1;
        if (!SCPreferencesPathSetValue(p.get(), "/Payload", Payload(next).get()) ||
            !SCPreferencesSetValue(p.get(), "Generation", PNum(next).get()))
            _exit(4);
        const char tag = 'c';
        (void)!write(ready, &tag, 1);
        if (!SCPreferencesCommitChanges(p.get()) || !SCPreferencesUnlock(p.get())) _exit(5);
    }
}

TEST(store_crash, KilledWriterLeavesOldOrNewStore)
{
    StoreSandbox box;
    {
        auto p = SCPreferencesCreate("setup");
        ASSERT_TRUE(p);
        ASSERT_TRUE(SCPreferencesPathSetValue(p.get(), "/Payload", Payload(0).get()));
        ASSERT_TRUE(SCPreferencesSetValue(p.get(), "Generation", PNum(0).get()));
        ASSERT_TRUE(SCPreferencesCommitChanges(p.get()));
    }
    std::mt19937 random(12345);
    // From the start of the writer's first commit: most kills fall inside a commit; every eighth
    // one leaves the writer time to finish it (and to begin the next).
    std::uniform_int_distribution<int> delayUs(0, 8000);
    std::uniform_int_distribution<int> longDelayUs(20000, 40000);
    int64_t last = 0;
    int advanced = 0;
    constexpr int kKills = 200;
    for (int kill = 0; kill < kKills; ++kill) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(ready[0]);
            Writer(ready[1]);
        }
        close(ready[1]);
        char tag = 0;
        const bool started = read(ready[0], &tag, 1) == 1;
        close(ready[0]);
        usleep(static_cast<useconds_t>(kill % 8 == 7 ? longDelayUs(random) : delayUs(random)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(started && WIFSIGNALED(status)) << "the writer failed on its own, status " << status;

        auto tree = StoreSandbox::ReadTree();
        ASSERT_TRUE(tree) << "the store does not parse after kill " << kill;
        const int64_t g = GenerationOf(*tree);
        ASSERT_GE(g, last) << "the store went back after kill " << kill;
        const PValue* payload = tree->Get("Payload");
        ASSERT_TRUE(payload && payload->Equals(*Payload(g))) << "mixed state after kill " << kill;
        if (g > last) ++advanced;
        last = g;
    }
    // The writer got on between kills.
    EXPECT_GT(advanced, 0);
    std::printf("%d kills, the store advanced %d times to generation %lld\n", kKills, advanced,
                static_cast<long long>(last));

    // Whatever the last kill left behind, the next commit goes through and leaves no temporary file.
    auto p = SCPreferencesCreate("after");
    ASSERT_TRUE(p);
    ASSERT_TRUE(SCPreferencesSetValue(p.get(), "Generation", PNum(last + 1).get()));
    ASSERT_TRUE(SCPreferencesPathSetValue(p.get(), "/Payload", Payload(last + 1).get()));
    ASSERT_TRUE(SCPreferencesCommitChanges(p.get())) << SCError();
    EXPECT_FALSE(std::filesystem::exists(StoreSandbox::Store() + ".new"));
    auto tree = StoreSandbox::ReadTree();
    ASSERT_TRUE(tree);
    EXPECT_EQ(GenerationOf(*tree), last + 1);
}

} // namespace
