#include "SettingsStore.h"

#include "Texts.h"

#include <QSettings>
#include <QStringList>

namespace {
const QString SettingsGroup = QStringLiteral("Settings");
const QString PortsGroup = QStringLiteral("Ports");

QString inGroup(const QString &group, const QString &key) { return group + QLatin1Char('/') + key; }
} // namespace

SettingsStore::SettingsStore()
    : m_settings(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, Texts::AppTitle,
                                             Texts::AppTitle))
{
}

SettingsStore::SettingsStore(const QString &iniPath)
    : m_settings(std::make_unique<QSettings>(iniPath, QSettings::IniFormat))
{
}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::setting(const QString &key, const QString &fallback) const
{
    const QVariant value = m_settings->value(inGroup(SettingsGroup, key));
    return value.isValid() ? value.toString() : fallback;
}

bool SettingsStore::setSetting(const QString &key, const QString &value)
{
    m_settings->setValue(inGroup(SettingsGroup, key), value);
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

QString SettingsStore::mappedPort(int number) const
{
    return m_settings->value(inGroup(PortsGroup, QString::number(number))).toString();
}

bool SettingsStore::setMappedPort(int number, const QString &devicePath)
{
    m_settings->setValue(inGroup(PortsGroup, QString::number(number)), devicePath);
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

QStringList SettingsStore::mappedPortNumbers() const
{
    m_settings->beginGroup(PortsGroup);
    QStringList keys = m_settings->childKeys();
    m_settings->endGroup();
    return keys;
}

QString SettingsStore::fileName() const { return m_settings->fileName(); }
