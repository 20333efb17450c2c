#include "server/qt_settings_store.h"

#include "server/owner_only_file.h"

#include <QSettings>
#include <QStringList>

namespace tallowcrest {

namespace {

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

// Opens the store of one application with the group of one section entered;
// a file that others may read is made private first.
class SectionStore {
public:
    SectionStore(const std::string& app, const std::string& section)
        : m_settings(QSettings::UserScope, q(app), q(app))
    {
        narrowToOwner(m_settings.fileName());
        m_settings.beginGroup(q(section));
    }

    QStringList keysMatching(const QString& key) const
    {
        QStringList matches;
        for (const QString& stored : m_settings.childKeys()) {
            if (stored.compare(key, Qt::CaseInsensitive) == 0)
                matches << stored;
        }
        return matches;
    }

    QSettings& settings() { return m_settings; }

private:
    QSettings m_settings;
};

}  // namespace

std::string QtSettingsStore::read(const std::string& app, const std::string& section,
                                  const std::string& key, const std::string& defaultValue)
{
    SectionStore store(app, section);
    const QStringList matches = store.keysMatching(q(key));
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

void QtSettingsStore::save(const std::string& app, const std::string& section,
                           const std::string& key, const std::string& value)
{
    SectionStore store(app, section);
    createOwnerOnly(store.settings().fileName());
    for (const QString& stored : store.keysMatching(q(key)))
        store.settings().remove(stored);
    store.settings().setValue(q(key), q(value));
    store.settings().sync();
}

}  // namespace tallowcrest
