#include "server/audio_output.h"

#include "server/server_log.h"

namespace tallowcrest {

std::string chosenAudioOutput(ISettingsStore& settings, IMessageBox& messageBox, const AudioOutputCheck& check)
{
    const std::string stored = settings.read(kAppName, kSettingsSection, kAudioOutputKey, "auto");
    const QString trimmed = QString::fromStdString(stored).trimmed();
    if (trimmed.isEmpty() || trimmed.compare(QStringLiteral("auto"), Qt::CaseInsensitive) == 0)
        return {};
    if (const std::optional<QString> why = check(stored)) {
        qCWarning(serverLog) << "AudioOutput" << stored.c_str() << "cannot be used:" << *why;
        messageBox.show("Cannot use the sound output \"" + stored + "\":\r\n" + why->toStdString()
                            + "\r\nThe server plays through the desktop's default output instead.",
                        "Error", MessageStyle::Critical);
        return {};
    }
    return stored;
}

}  // namespace tallowcrest
