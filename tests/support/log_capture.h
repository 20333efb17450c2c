#pragma once
#include <QMutex>
#include <QString>
#include <atomic>
#include <vector>

namespace tallowcrest {
// Records what any thread logs (as far as the categories let it through) while it lives, in place of the handler.
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
        std::ranges::copy_if(m_messages, std::back_inserter(found), [&](const Message& message) {
            return message.category == category && message.type != QtDebugMsg && message.type != QtInfoMsg;
        });
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
