// The per-user settings store: an INI file under the user's config folder,
// <config>/KitUpdater/KitUpdater.ini, every value a string.
#pragma once

#include <QList>
#include <QString>
#include <memory>
#include <optional>

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
    QList<int> mappedPortNumbers() const;   // ascending, each once
    // The lowest number mapped to exactly this path, if any.
    std::optional<int> numberMappedTo(const QString &devicePath) const;

    // Every change of "Ports" is made under a lock that all programs writing
    // it share (a lock file beside the settings file), on the file as it is on
    // disk at that moment, and touches only its own port's keys: a window or a
    // station that started earlier never overwrites a mapping made meanwhile.
    bool setMappedPort(int number, const QString &devicePath);
    bool removeMappedPort(int number);
    // Maps the device to the lowest number from first to last that is neither
    // mapped nor in unavailable, or finds the number it already has (another
    // program may have given it one). written: false when the file could not
    // be written (the mapping then holds for this run only).
    struct PortPick {
        std::optional<int> number; // none: every number is taken
        bool written = true;
    };
    PortPick mapToFreePort(const QString &devicePath, int first, int last, const QList<int> &unavailable);

    // Reads the file again if another program has changed it.
    void reload();

    QString fileName() const;

private:
    class PortsLock;
    QStringList portKeysOf(int number) const;
    void putMappedPort(int number, const QString &devicePath);
    void dropMappedPort(int number);
    bool written();

    std::unique_ptr<QSettings> m_settings;
};
