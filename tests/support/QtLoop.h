// A Qt application for tests that run the PPP backend, and a wait that turns the event loop.
#pragma once

#include <QCoreApplication>
#include <QEventLoop>

#include <chrono>
#include <functional>

inline QCoreApplication& TestApp()
{
    static int argc = 1;
    static char name[] = "kavanti-tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Turns the event loop until `done` or `seconds` have passed; the final value of `done`.
inline bool WaitFor(const std::function<bool()>& done, double seconds = 10)
{
    TestApp();
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end)
            return done();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}
