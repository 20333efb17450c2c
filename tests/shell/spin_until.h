#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace tallowcrest {

// Runs events until done() holds or timeoutMs pass; returns done().
template <typename Condition>
bool SpinUntil(Condition done, int timeoutMs = 10000)
{
    for (const QDeadlineTimer deadline(timeoutMs); !done() && !deadline.hasExpired(); QThread::msleep(2))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

}  // namespace tallowcrest
