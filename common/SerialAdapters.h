// USB serial adapters get port numbers of their own, as on Windows: the first
// time an adapter is seen it is given the lowest free number from 1 to 20, and
// the mapping "N=<its link in /dev/serial/by-id>" is written to "Ports" at once.
// udev names those links after the adapter's maker, model and serial number, so
// the number stays with the adapter whatever socket or order it is plugged in.
#pragma once

#include <QDateTime>
#include <QFileSystemWatcher>
#include <QList>
#include <QObject>
#include <QSerialPortInfo>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <optional>

class SettingsStore;

// The folder of udev's stable adapter names: /dev/serial/by-id, or the folder
// that $KITUPDATER_SERIAL_BY_ID names (tests and demos).
QString serialByIdFolder();

// A port number and what it leads to now, or an adapter that has no number.
struct SerialPortEntry {
    std::optional<int> number;       // none: an adapter that found no free number
    QString path;                    // the mapping, or /dev/ttyS(N-1); the adapter's link when unnumbered
    QString byIdName;                // the link's name when path lies in the by-id folder
    QString device;                  // the device node path reaches now; empty: not connected
    std::optional<quint16> vendorId; // USB details, where the serial layer knows the device
    std::optional<quint16> productId;
    QString serialNumber;
    QString manufacturer;
    QString product;
};

// The numbers the port list offers, and so the ones an adapter may be given.
struct PortRange {
    int first;
    int last;
};

class PortNumbering : public QObject {
    Q_OBJECT

public:
    // Numbers the adapters present now and watches the folder for more. The
    // folder need not exist: its nearest existing parent is watched until it
    // does. The folder is watched by its path: one that is replaced (renamed
    // over) is seen through its parent and watched afresh. The settings' folder
    // is watched too, so that a mapping another program makes shows at once.
    PortNumbering(SettingsStore &settings, PortRange range, const QString &byIdFolder = serialByIdFolder(),
                  QObject *parent = nullptr);

    QString folder() const { return m_folder; }

    // Sees every adapter that is plugged in or out from now on (the folder is
    // watched anyway; where adapters are polled for, polling starts here).
    void followAdapters();

    // Scans the folder again, numbers the adapters seen for the first time and
    // emits changed(). A store that cannot be written keeps the numbers for this run.
    void refresh();

    // The device a number stands for: its mapping, else /dev/ttyS(N-1).
    QString devicePath(int number) const;
    // The port's tooltip: an adapter's maker, model and serial number with its
    // device now (or "not connected"); any other port's device path.
    QString describe(int number) const;
    SerialPortEntry entry(int number) const;
    // What a device path (a by-id link, a device node) leads to now.
    SerialPortEntry entryOf(const QString &path) const;
    // The same without the USB details (no listing of the serial layer's ports).
    SerialPortEntry linkOf(const QString &path) const;
    // The adapters' links in the folder at the last scan.
    QStringList links() const { return m_links; }
    // Every number that names a device (mapped, or a /dev/ttyS port that the
    // serial layer lists), ascending, then the adapters without a number.
    QList<SerialPortEntry> entries() const;

signals:
    void changed();

private:
    void onFolderChanged(const QString &folder);
    void watchFolders();
    QDateTime settingsStamp() const;
    void giveNumber(const QString &link);
    static void fillInFromSystem(SerialPortEntry &entry);
    QList<int> listedUnmappedNumbers() const;

    SettingsStore &m_settings;
    PortRange m_range;
    QString m_folder;
    QFileSystemWatcher m_watcher;
    QTimer m_poll;                      // where adapters are polled for (Windows)
    QStringList m_links;                // the folder's links at the last scan
    QStringList m_namedUnusable;        // links whose names cannot be opened, named once
    QDateTime m_settingsSeen;           // the settings file's time at the last scan
    // The serial layer's ports, listed when first needed after a scan: listing
    // them takes tens of milliseconds, too long to do at every start.
    const QList<QSerialPortInfo> &listedPorts() const;
    mutable std::optional<QList<QSerialPortInfo>> m_listed;
};
