#pragma once
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <functional>

namespace tallowcrest {
// Runs Qt events until done() holds or timeoutMs pass; returns done().
inline bool SpinUntil(const std::function<bool()>& done, int timeoutMs = 10000)
{
    for (const QDeadlineTimer deadline(timeoutMs); !done() && !deadline.hasExpired(); QThread::msleep(1))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}
// Waits without running Qt events until done() holds or timeoutMs pass; returns done().
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 10000)
{
    for (const QDeadlineTimer deadline(timeoutMs); !done() && !deadline.hasExpired();)
        QThread::msleep(1);
    return done();
}
// Runs Qt events until those posted before the call have run.
inline void SpinPosted()
{
    bool done = false;
    QMetaObject::invokeMethod(QCoreApplication::instance(), [&done] { done = true; }, Qt::QueuedConnection);
    SpinUntil([&] { return done; });
}
}  // namespace tallowcrest
