#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <functional>

namespace loomwatch::testing {

// The one QCoreApplication of a test executable, created on first use.
inline QCoreApplication& coreApplication()
{
    if (QCoreApplication* existing = QCoreApplication::instance())
        return *existing;
    static int argc = 1;
    static char name[] = "loomwatch-test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

// Runs the event loop until `done` holds or the time is up; returns whether it held.
inline bool processEventsUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    coreApplication();
    for (QDeadlineTimer deadline(timeoutMs); !done(); QThread::msleep(1)) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Runs the event loop for a while, for "nothing more happens" checks.
inline void processEventsFor(int ms)
{
    processEventsUntil([] { return false; }, ms);
}

} // namespace loomwatch::testing
