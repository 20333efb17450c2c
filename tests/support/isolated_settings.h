#pragma once

#include <QSettings>
#include <QString>
#include <QTemporaryDir>

namespace tallowcrest::testing {

// Points the per-user settings of this process at a fresh folder for as long
// as it lives, so tests read and write a real settings file of their own.
class IsolatedSettings {
public:
    IsolatedSettings() { QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir_.path()); }

    // The file the server's settings live in.
    QString FilePath() const { return dir_.path() + "/TallowcrestServer/TallowcrestServer.conf"; }
    QString Folder() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
};

}  // namespace tallowcrest::testing
