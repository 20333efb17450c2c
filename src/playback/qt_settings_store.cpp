#include "playback/qt_settings_store.h"

#include <QSettings>
#include <QStringList>

namespace tallowcrest {

namespace {

QString q(const std::string& text) { return QString::fromStdString(text); }

// Opens the store of one application with the group of one section entered.
class SectionStore {
public:
    SectionStore(const std::string& app, const std::string& section)
        : settings_(QSettings::UserScope, q(app), q(app))
    {
        settings_.beginGroup(q(section));
    }

    QStringList KeysMatching(const QString& key) const
    {
        QStringList matches;
        for (const QString& stored : settings_.childKeys()) {
            if (stored.compare(key, Qt::CaseInsensitive) == 0)
                matches << stored;
        }
        return matches;
    }

    QSettings& settings() { return settings_; }

private:
    QSettings settings_;
};

}  // namespace

std::string QtSettingsStore::Read(const std::string& app, const std::string& section,
                                  const std::string& key, const std::string& defaultValue)
{
    SectionStore store(app, section);
    const QStringList matches = store.KeysMatching(q(key));
    if (matches.isEmpty())
        return defaultValue;
    // An exact match wins over another letter case written by hand.
    const QString chosen = matches.contains(q(key)) ? q(key) : matches.first();
    const QVariant value = store.settings().value(chosen);
    // An unquoted value with commas in a hand-written file reads as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", ")).toStdString();
    return value.toString().toStdString();
}

void QtSettingsStore::Save(const std::string& app, const std::string& section,
                           const std::string& key, const std::string& value)
{
    SectionStore store(app, section);
    for (const QString& stored : store.KeysMatching(q(key)))
        store.settings().remove(stored);
    store.settings().setValue(q(key), q(value));
    store.settings().sync();
}

}  // namespace tallowcrest
