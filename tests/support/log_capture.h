#pragma once

#include <QMutex>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <vector>

namespace tallowcrest {

// Records the Qt log messages of every thread while it lives, in place of the
// handler before it, which comes back afterwards. Categories filter as
// configured: only what would have been written is recorded.
class LogCapture {
public:
    struct Message {
        QString category;
        QtMsgType type;
        QString text;
    };

    LogCapture()
    {
        current() = this;
        m_previous = qInstallMessageHandler(&LogCapture::record);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        current() = nullptr;
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

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
    static std::atomic<LogCapture*>& current()
    {
        static std::atomic<LogCapture*> capture = nullptr;
        return capture;
    }
    static void record(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        if (LogCapture* capture = current()) {
            const QMutexLocker lock(&capture->m_mutex);
            capture->m_messages.push_back({QString::fromUtf8(context.category), type, text});
        }
    }

    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_mutex;
    std::vector<Message> m_messages;
};

}  // namespace tallowcrest
