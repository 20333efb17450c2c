#include "server/stall_watch.h"

#include <QDateTime>

#include <memory>

namespace tallowcrest {

StallWatch::StallWatch(const QString& logPath, QObject* parent) : QObject(parent), m_log(logPath)
{
    m_log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &StallWatch::tick);
    m_timer.start(kTickMs);
    m_sinceTick.start();
    m_sinceLine.start();
}

std::unique_ptr<StallWatch> StallWatch::fromEnvironment()
{
    const QString path = qEnvironmentVariable(kEnvironmentKey);
    return path.isEmpty() ? nullptr : std::make_unique<StallWatch>(path);
}

void StallWatch::tick()
{
    m_longestLateness = std::max(m_longestLateness, m_sinceTick.restart() - kTickMs);
    if (m_sinceLine.elapsed() < 1000)
        return;
    m_log.write(QByteArray::number(QDateTime::currentMSecsSinceEpoch()) + ' ' + QByteArray::number(m_longestLateness)
                + '\n');
    m_longestLateness = 0;
    m_sinceLine.restart();
}

}  // namespace tallowcrest
