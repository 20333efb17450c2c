#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QTimer>

#include <memory>

namespace tallowcrest {

// For benchmarks: how late a 10 ms timer on the main thread fires, as the
// longest lateness of each second, one "EPOCH_MS LATENESS_MS" line per second
// appended to a file. Started only when TALLOWCREST_STALL_LOG names that file,
// since it wakes the program a hundred times a second.
class StallWatch : public QObject {
    Q_OBJECT

public:
    static constexpr int kTickMs = 10;
    static constexpr const char* kEnvironmentKey = "TALLOWCREST_STALL_LOG";

    explicit StallWatch(const QString& logPath, QObject* parent = nullptr);
    // The watch the environment asks for, or none.
    static std::unique_ptr<StallWatch> fromEnvironment();

private:
    void tick();

    QFile m_log;
    QTimer m_timer;
    QElapsedTimer m_sinceTick;
    QElapsedTimer m_sinceLine;
    qint64 m_longestLateness = 0;
};

}  // namespace tallowcrest
