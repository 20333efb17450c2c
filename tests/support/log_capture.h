#pragma once

#include <QString>
#include <QtGlobal>

#include <string>
#include <vector>

namespace tallowcrest::testing {

// What is logged while it lives, each line as "category: message".
class LogCapture {
public:
    LogCapture() : m_previous(qInstallMessageHandler(&LogCapture::take)) { s_current = this; }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        s_current = nullptr;
    }

    struct Line {
        QtMsgType type;
        std::string text;
    };
    std::vector<Line> lines;

private:
    static void take(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        s_current->lines.push_back({type, std::string(context.category ? context.category : "") + ": "
                                              + message.toStdString()});
    }

    static inline LogCapture* s_current = nullptr;
    QtMessageHandler m_previous;
};

}  // namespace tallowcrest::testing
