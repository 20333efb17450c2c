#pragma once

#include <QString>
#include <QtGlobal>

#include <string>
#include <vector>

namespace tallowcrest::testing {

// What is logged while it lives: the level and "category: message".
class LogCapture {
public:
    LogCapture() : m_previous(qInstallMessageHandler(&take)) { s_current = this; }
    ~LogCapture() { qInstallMessageHandler(m_previous), s_current = nullptr; }
    std::vector<std::pair<QtMsgType, std::string>> lines;

private:
    static void take(QtMsgType type, const QMessageLogContext& context, const QString& message)
    {
        s_current->lines.emplace_back(type, std::string(context.category) + ": " + message.toStdString());
    }
    static inline LogCapture* s_current = nullptr;
    QtMessageHandler m_previous;
};

}  // namespace tallowcrest::testing
