// The application's event loop on Qt: events first, idle tasks only when none is pending.
// A QCoreApplication (or QApplication) must exist before any of these is called.
#pragma once

#include <functional>

class KEventLoop {
public:
    // Runs until Quit: handles every pending event; when none is left, gives one idle pass
    // (KPeriodical::DevoteTimeToIdlers). While idle tasks exist, passes follow each other
    // about a millisecond apart when no event comes; with none it sleeps until the next event.
    // Returns the code given to Quit.
    static int Run();

    // Ends Run after the event or idle task being handled now. Safe from any thread.
    static void Quit(int code = 0);

    // Handles the events pending now without waiting for more; true when there were any.
    // For code that must keep the loop turning during a long blocking wait.
    static bool ProcessPendingEvents();

    // Runs `fn` on the main thread from the event loop. Safe from any thread; calls posted
    // from one thread run in the order they were posted.
    static void Post(std::function<void()> fn);
};
