#include "platform/shell/KBroadcaster.h"
#include "platform/shell/KCommander.h"
#include "platform/shell/KEventLoop.h"
#include "platform/shell/KPeriodical.h"
#include "platform/shell/KTicks.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// ---- ticks ---------------------------------------------------------------------------

TEST(Ticks, RealClockCountsSixtiethsOfASecond)
{
    const auto t0 = std::chrono::steady_clock::now();
    const uint32_t start = TickCount();
    const uint32_t end = Delay(6);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(end - start, 6u);
    EXPECT_GE(ms, 95);
    EXPECT_GE(TickCount() - start, 6u); // monotonic: never goes back
}

TEST(Ticks, TestClockMovesOnlyByDelayAndWrapsUnsigned)
{
    const auto t0 = std::chrono::steady_clock::now();
    {
        KTestClock clock(0xFFFFFF00u);
        EXPECT_TRUE(KTestClock::Installed());
        const uint32_t start = TickCount();
        EXPECT_EQ(TickCount(), start);
        const uint32_t end = Delay(300); // 5 s of ticks, no real time
        EXPECT_EQ(end, 0xFFFFFF00u + 300u);
        EXPECT_LT(end, start); // wrapped
        EXPECT_EQ(end - start, 300u);
        KTestClock::Advance(60);
        EXPECT_EQ(TickCount() - start, 360u);
    }
    EXPECT_FALSE(KTestClock::Installed());
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
}

// ---- idle tasks ----------------------------------------------------------------------

namespace {

struct Task : KPeriodical {
    std::string name;
    std::vector<std::string>* log;
    std::function<void(Task*)> onSpend;
    Task(std::string n, std::vector<std::string>* l) : name(std::move(n)), log(l) {}
    void SpendTime() override
    {
        log->push_back(name);
        if (onSpend) onSpend(this);
    }
};

} // namespace

TEST(IdleTasks, EachIdlingTaskOncePerPassInStartOrder)
{
    std::vector<std::string> log;
    Task a("a", &log), b("b", &log), c("c", &log);
    b.StartIdling();
    a.StartIdling();
    a.StartIdling(); // already idling: no second entry
    EXPECT_TRUE(a.IsIdling());
    EXPECT_FALSE(c.IsIdling());
    KPeriodical::DevoteTimeToIdlers();
    KPeriodical::DevoteTimeToIdlers();
    EXPECT_EQ(log, (std::vector<std::string>{"b", "a", "b", "a"}));
    a.StopIdling();
    b.StopIdling();
    EXPECT_EQ(KPeriodical::IdlerCount(), 0u);
}

TEST(IdleTasks, StoppingDeletingAndStartingDuringAPass)
{
    std::vector<std::string> log;
    auto* selfDeleting = new Task("del", &log);
    Task stopper("stop", &log), victim("victim", &log), late("late", &log), starter("start", &log);

    selfDeleting->onSpend = [](Task* t) { t->StopIdling(); delete t; };
    stopper.onSpend = [&](Task* t) { t->StopIdling(); victim.StopIdling(); };
    starter.onSpend = [&](Task*) { late.StartIdling(); };

    selfDeleting->StartIdling();
    stopper.StartIdling();
    victim.StartIdling();
    starter.StartIdling();

    KPeriodical::DevoteTimeToIdlers();
    // "victim" was stopped earlier in the pass; "late" was started during it.
    EXPECT_EQ(log, (std::vector<std::string>{"del", "stop", "start"}));
    log.clear();
    KPeriodical::DevoteTimeToIdlers();
    EXPECT_EQ(log, (std::vector<std::string>{"start", "late"}));
    starter.StopIdling();
    late.StopIdling();
}

TEST(IdleTasks, TaskDeletedByAnotherIsNotCalled)
{
    std::vector<std::string> log;
    auto* second = new Task("second", &log);
    Task first("first", &log);
    first.onSpend = [&](Task*) { delete second; second = nullptr; };
    first.StartIdling();
    second->StartIdling();
    KPeriodical::DevoteTimeToIdlers();
    EXPECT_EQ(log, (std::vector<std::string>{"first"}));
    EXPECT_EQ(KPeriodical::IdlerCount(), 1u);
    first.StopIdling();
}

// ---- event loop ----------------------------------------------------------------------

class EventLoopTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char arg0[] = "shell_tests";
        static char* argv[] = {arg0, nullptr};
        if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);
    }
};

TEST_F(EventLoopTest, IdleTasksRunOnlyWhenNoEventIsPending)
{
    std::vector<std::string> log;
    Task idler("idle", &log);
    int passes = 0;
    idler.onSpend = [&](Task* t) {
        if (++passes == 1) {
            // Events posted from an idle task are all handled before the next idle pass.
            for (int i = 0; i < 3; ++i) KEventLoop::Post([&, i] { log.push_back("event" + std::to_string(i)); });
        } else if (passes == 2) {
            t->StopIdling();
            KEventLoop::Quit(7);
        }
    };
    KEventLoop::Post([&] { log.push_back("first"); });
    idler.StartIdling();
    EXPECT_EQ(KEventLoop::Run(), 7);
    EXPECT_EQ(log, (std::vector<std::string>{"first", "idle", "event0", "event1", "event2", "idle"}));
}

TEST_F(EventLoopTest, IdlePassesKeepComingWithoutEvents)
{
    std::vector<std::string> log;
    Task idler("idle", &log);
    idler.onSpend = [&](Task* t) {
        if (log.size() == 5) {
            t->StopIdling();
            KEventLoop::Quit(0);
        }
    };
    idler.StartIdling();
    EXPECT_EQ(KEventLoop::Run(), 0);
    EXPECT_EQ(log.size(), 5u);
}

TEST_F(EventLoopTest, EventsFromAnotherThreadArriveInOrderAndWakeTheLoop)
{
    std::vector<int> got;
    std::thread sender([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the loop is asleep by now
        for (int i = 0; i < 100; ++i) KEventLoop::Post([&, i] { got.push_back(i); });
        KEventLoop::Post([] { KEventLoop::Quit(0); });
    });
    EXPECT_EQ(KEventLoop::Run(), 0);
    sender.join();
    ASSERT_EQ(got.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(got[i], i);
}

// ---- commands and messages -----------------------------------------------------------

namespace {

struct Cmdr : KCommander {
    int32_t handles;
    std::vector<std::string>* log;
    std::string name;
    Cmdr(std::string n, int32_t h, std::vector<std::string>* l, KCommander* super = nullptr)
        : KCommander(super), handles(h), log(l), name(std::move(n)) {}
    bool ObeyCommand(int32_t command, void* param) override
    {
        if (command == handles) {
            log->push_back(name + ":" + std::to_string(command) + ":" +
                           std::to_string(param ? *static_cast<int*>(param) : -1));
            return true;
        }
        return KCommander::ObeyCommand(command, param);
    }
};

struct Ear : KListener {
    std::vector<std::string>* log;
    std::string name;
    std::function<void()> onHear;
    Ear(std::string n, std::vector<std::string>* l) : log(l), name(std::move(n)) {}
    void ListenToMessage(int32_t message, void*) override
    {
        log->push_back(name + ":" + std::to_string(message));
        if (onHear) onHear();
    }
};

} // namespace

TEST(Commands, TravelUpTheChainUntilHandled)
{
    std::vector<std::string> log;
    Cmdr app("app", 2100, &log);
    Cmdr window("window", 2000, &log, &app);
    auto* panel = new Cmdr("panel", 1, &log, &window);
    int value = 5;
    EXPECT_TRUE(panel->ProcessCommand(2100, &value));
    EXPECT_TRUE(panel->ProcessCommand(2000));
    EXPECT_FALSE(panel->ProcessCommand(4242)); // nobody handles it
    EXPECT_EQ(log, (std::vector<std::string>{"app:2100:5", "window:2000:-1"}));

    // A destroyed supercommander leaves its subcommanders at the top of a shorter chain.
    delete panel;
    auto* mid = new Cmdr("mid", 3, &log, &app);
    Cmdr leaf("leaf", 4, &log, mid);
    delete mid;
    EXPECT_EQ(leaf.GetSuperCommander(), nullptr);
    EXPECT_FALSE(leaf.ProcessCommand(2100));
    bool enabled = true;
    leaf.FindCommandStatus(2100, enabled);
    EXPECT_FALSE(enabled);
}

TEST(Messages, ListenersHearInOrderAndMayLeaveDuringABroadcast)
{
    std::vector<std::string> log;
    KBroadcaster button;
    Ear one("one", &log), two("two", &log);
    auto* three = new Ear("three", &log);
    one.onHear = [&] { button.RemoveListener(&one); };
    two.onHear = [&] { delete three; three = nullptr; };
    button.AddListener(&one);
    button.AddListener(&two);
    button.AddListener(&two);
    button.AddListener(three);
    button.BroadcastMessage(2000);
    button.BroadcastMessage(2001);
    EXPECT_EQ(log, (std::vector<std::string>{"one:2000", "two:2000", "two:2001"}));

    // A broadcaster that goes first leaves no dangling subscription in its listeners.
    auto* other = new KBroadcaster;
    other->AddListener(&two);
    delete other;
    two.onHear = nullptr;
    button.BroadcastMessage(2002);
    EXPECT_EQ(log.back(), "two:2002");
}
