#include "support/spin.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace tallowcrest {

bool SpinUntil(const std::function<bool()>& done, int timeoutMs)
{
    for (const QDeadlineTimer deadline(timeoutMs); !done() && !deadline.hasExpired(); QThread::msleep(1))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

void SpinFor(int ms)
{
    SpinUntil([] { return false; }, ms);
}

}  // namespace tallowcrest
