#include "server/qt_settings_store.h"
#include "support/fakes.h"
#include "support/log_capture.h"

#include <QFileInfo>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace tallowcrest::testing {
namespace {

mode_t modeOf(const QString& path)
{
    struct stat status = {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// The file holds the pairing code: it is the owner's alone, and narrowing it keeps every byte the user wrote.
TEST(SettingsFile, OnlyItsOwnerReadsItAndHandWrittenKeysStay)
{
    const QByteArray handWritten = "; mine\n[Settings]\nDir=/m/Rock, Pop\nport=1234\nWebToken=5f0c\n";
    const struct { const char* name; mode_t folderMode, fileMode, folderAfter; std::size_t warnings; } rows[] = {
        {"new file", 0, 0, 0700, 0}, {"hand-written 0644 file", 0700, 0644, 0700, 1}, {"user's 0755 folder", 0755, 0, 0755, 0}};
    for (const auto& row : rows) {
        LogCapture log;
        IsolatedSettings isolation;
        const QString folder = QFileInfo(isolation.filePath()).path();
        if (row.folderMode) {
            ASSERT_TRUE(QDir().mkdir(folder) && ::chmod(QFile::encodeName(folder).constData(), row.folderMode) == 0);
        }
        QFile file(isolation.filePath());
        if (row.fileMode) {
            ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(handWritten) == handWritten.size());
            file.close();
            ASSERT_EQ(::chmod(QFile::encodeName(file.fileName()).constData(), row.fileMode), 0);
        }
        QtSettingsStore store;
        if (row.fileMode) {
            EXPECT_EQ(store.read(kAppName, kSettingsSection, "Port", ""), "1234") << row.name;
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << row.name;
            EXPECT_EQ(file.readAll(), handWritten) << row.name << ": narrowing rewrites nothing";
        }
        store.save(kAppName, kSettingsSection, "WebPort", "9998");
        EXPECT_EQ(std::tuple(modeOf(isolation.filePath()), modeOf(folder), log.warnings("tallowcrest.server").size()),
                  std::tuple(mode_t(0600), row.folderAfter, row.warnings)) << row.name;
        EXPECT_EQ(store.read(kAppName, kSettingsSection, "Dir", ""), row.fileMode ? "/m/Rock, Pop" : "") << row.name;
    }
}

}  // namespace
}  // namespace tallowcrest::testing
