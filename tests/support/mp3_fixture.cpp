#include "support/mp3_fixture.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>

namespace tallowcrest {

namespace {

std::string RequireTool(const char* tool)
{
    const QString found = QStandardPaths::findExecutable(QString::fromLatin1(tool));
    if (found.isEmpty())
        throw std::runtime_error(std::string("MakeMp3 needs the program '") + tool
                                 + "' (Debian packages sox and lame)");
    return found.toStdString();
}

void Run(const std::string& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QString::fromStdString(program), arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        throw std::runtime_error("MakeMp3: " + program + " " + arguments.join(' ').toStdString()
                                 + " failed: " + process.readAll().toStdString()
                                 + process.errorString().toStdString());
    }
}

// Encoded files by length, kept in one folder for the life of the process.
QString CachedMp3(double seconds)
{
    static std::unique_ptr<QTemporaryDir> cacheDir;
    static std::map<double, QString> cache;
    if (const auto it = cache.find(seconds); it != cache.end())
        return it->second;

    const std::string sox = RequireTool("sox");
    const std::string lame = RequireTool("lame");
    if (!cacheDir) {
        cacheDir = std::make_unique<QTemporaryDir>();
        if (!cacheDir->isValid())
            throw std::runtime_error("MakeMp3: cannot create a temporary folder");
    }
    const QString stem = cacheDir->filePath(QStringLiteral("tone-%1").arg(cache.size()));
    const QString wav = stem + QStringLiteral(".wav");
    const QString mp3 = stem + QStringLiteral(".mp3");
    Run(sox, {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"),
              QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("16"),
              wav, QStringLiteral("synth"), QString::number(seconds, 'f', 3),
              QStringLiteral("sine"), QStringLiteral("440")});
    Run(lame, {QStringLiteral("--quiet"), QStringLiteral("-b"), QStringLiteral("128"), wav, mp3});
    QFile::remove(wav);
    cache.emplace(seconds, mp3);
    return mp3;
}

}  // namespace

std::string MakeMp3(const QString& dir, const QString& name, double seconds)
{
    const QString source = CachedMp3(seconds);
    const QString target = QDir(dir).filePath(name);
    QFile::remove(target);
    if (!QFile::copy(source, target))
        throw std::runtime_error("MakeMp3: cannot write " + target.toStdString());
    return QFile::encodeName(target).toStdString();
}

std::string MakeMp3(const QString& dir, const std::string& byteName, double seconds)
{
    const std::string staging = MakeMp3(dir, QStringLiteral(".mp3-fixture-staging.mp3"), seconds);
    const std::string target = QFile::encodeName(dir).toStdString() + "/" + byteName;
    if (std::rename(staging.c_str(), target.c_str()) != 0)
        throw std::runtime_error("MakeMp3: cannot rename to " + target + ": " + std::strerror(errno));
    return target;
}

std::string MakeMp3(const QString& dir, const char* name, double seconds)
{
    return MakeMp3(dir, QString::fromUtf8(name), seconds);
}

}  // namespace tallowcrest
