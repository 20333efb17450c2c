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

inline void SpinFor(int ms)
{
    SpinUntil([] { return false; }, ms);
}

}  // namespace tallowcrest
