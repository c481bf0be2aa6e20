// The per-user settings store: an INI file under the user's config folder,
// <config>/KitUpdater/KitUpdater.ini, every value a string.
#pragma once

#include <QList>
#include <QString>
#include <memory>

class QSettings;

class SettingsStore {
public:
    // The user's own store (QSettings' user scope, so $XDG_CONFIG_HOME on Linux).
    SettingsStore();
    // A store kept in the given INI file (tests, private demo folders).
    explicit SettingsStore(const QString &iniPath);
    ~SettingsStore();

    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    // Group "Settings": "Com", "Speed", "OPEN_DIR0".
    QString setting(const QString &key, const QString &fallback) const;
    // Writes at once. Returns false when the store could not be written;
    // the caller carries on either way (a choice then is simply not remembered).
    bool setSetting(const QString &key, const QString &value);

    // Group "Ports": port number -> device path, e.g. "7" -> "/dev/ttyUSB0".
    // Keys are decimal numbers, so "7" and "07" name the same port; keys that
    // are no number are left alone. Writes return false when the store could
    // not be written; the change then still holds for this run.
    QString mappedPort(int number) const;
    bool setMappedPort(int number, const QString &devicePath);
    bool removeMappedPort(int number);
    QList<int> mappedPortNumbers() const;   // ascending, each once

    QString fileName() const;

private:
    QStringList portKeysOf(int number) const;
    bool written();

    std::unique_ptr<QSettings> m_settings;
};
