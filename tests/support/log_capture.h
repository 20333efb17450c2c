#pragma once

#include <QMutex>
#include <QString>

#include <atomic>
#include <vector>

namespace tallowcrest {

// Records what any thread logs while it lives (as far as the categories let it through), in place of the handler
// before it.
class LogCapture {
public:
    struct Message { QString category; QtMsgType type; QString text; };

    LogCapture() : m_previous((s_current = this, qInstallMessageHandler(&record))) {}
    ~LogCapture() { qInstallMessageHandler(m_previous), s_current = nullptr; }
    // Warnings and worse in category.
    std::vector<Message> warnings(const QString& category) const
    {
        const QMutexLocker lock(&m_mutex);
        std::vector<Message> found;
        for (const Message& message : m_messages)
            if (message.category == category && message.type != QtDebugMsg && message.type != QtInfoMsg)
                found.push_back(message);
        return found;
    }

private:
    static void record(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        const QMutexLocker lock(&s_current.load()->m_mutex);
        s_current.load()->m_messages.push_back({QString::fromUtf8(context.category), type, text});
    }

    static inline std::atomic<LogCapture*> s_current = nullptr;
    QtMessageHandler m_previous;
    mutable QMutex m_mutex;
    std::vector<Message> m_messages;
};

}  // namespace tallowcrest
