#include "support/event_loop_wait.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace tallowcrest {

bool SpinUntil(std::function<bool()> cond, int timeoutMs)
{
    if (cond())
        return true;

    const QDeadlineTimer deadline(timeoutMs);
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (cond() || deadline.hasExpired())
            loop.quit();
    });
    poll.start();
    loop.exec();
    return cond();
}

}  // namespace tallowcrest
