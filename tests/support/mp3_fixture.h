#pragma once
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>

namespace tallowcrest {
// Writes a real MP3 (440 Hz, stereo, 44.1 kHz; each length encoded once by sox and lame) to dir/name, name being raw
// file-system bytes; returns its path or throws saying why. Names that are not UTF-8 are for the test to remove.
inline std::string MakeMp3(const QString& dir, const std::string& name, double seconds = 1.0)
{
    static QTemporaryDir cacheDir;
    static std::map<double, QString> encoded;
    QString& mp3 = encoded[seconds];
    if (mp3.isEmpty()) {
        const QString wav = cacheDir.filePath(QStringLiteral("tone-%1.wav").arg(encoded.size()));
        QProcess encoder;
        encoder.setProcessChannelMode(QProcess::MergedChannels);
        encoder.start("sh", {"-c", R"(sox -n -r 44100 -c 2 -b 16 "$1" synth "$2" sine 440 &&
                                      lame --quiet -b 128 "$1" "$1.mp3")",
                             "sh", wav, QString::number(seconds, 'f', 3)});
        if (!encoder.waitForFinished(60000) || encoder.exitStatus() != QProcess::NormalExit || encoder.exitCode() != 0)
            throw std::runtime_error("MakeMp3 (needs sox and lame): " + encoder.readAll().toStdString()
                                     + encoder.errorString().toStdString());
        mp3 = wav + ".mp3";
    }
    const std::string target = QFile::encodeName(dir).toStdString() + '/' + name;
    std::filesystem::copy_file(QFile::encodeName(mp3).toStdString(), target, std::filesystem::copy_options::overwrite_existing);
    return target;
}
}  // namespace tallowcrest
