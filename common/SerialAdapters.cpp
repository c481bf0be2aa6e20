#include "SerialAdapters.h"

#include "AdapterPlatform.h"
#include "FolderNames.h"
#include "PortMap.h"
#include "SettingsStore.h"
#include "Texts.h"
#include "UsbDetails.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

namespace {

const QString DefaultByIdFolder = QStringLiteral("/dev/serial/by-id");

// udev builds the name from the bus, maker, model and serial number, with
// blanks as '_' and the interface at the end:
// "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0" -> "FTDI FT232R USB UART A50285BI".
QString adapterName(const QString &byIdName)
{
    static const QRegularExpression bus(QStringLiteral("^[a-z]+-"));
    static const QRegularExpression interface(QStringLiteral("-if[0-9]+(-port[0-9]+)?$"));
    QString name = byIdName;
    name.remove(bus).remove(interface).replace(QLatin1Char('_'), QLatin1Char(' '));
    return name.isEmpty() ? byIdName : name;
}

QString nearestExistingFolder(QString folder)
{
    while (!QFileInfo(folder).isDir()) {
        const QString parent = QFileInfo(folder).absolutePath();
        if (parent == folder)
            break;
        folder = parent;
    }
    return folder;
}

} // namespace

QString serialByIdFolder()
{
    const QString chosen = qEnvironmentVariable("KITUPDATER_SERIAL_BY_ID");
    return chosen.isEmpty() ? DefaultByIdFolder : chosen;
}

PortNumbering::PortNumbering(SettingsStore &settings, PortRange range, const QString &byIdFolder, QObject *parent)
    : QObject(parent), m_settings(settings), m_range(range), m_folder(QDir::cleanPath(QFileInfo(byIdFolder).absoluteFilePath()))
{
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &PortNumbering::onFolderChanged);
    connect(&m_poll, &QTimer::timeout, this, [this] {
        if (AdapterPlatform::adaptersIn(m_folder) != m_links)
            refresh();
    });
    watchFolders();
    refresh();
}

// Where adapters are polled for, only those who must see each plug pay for
// it: a window has nothing to number there (Windows numbers its adapters).
void PortNumbering::followAdapters()
{
    if (AdapterPlatform::adaptersArePolled() && !m_poll.isActive())
        m_poll.start(AdapterPlatform::PollIntervalMs);
}

// Anything in the by-id folder counts. The other folders are busier (the
// parent may be /tmp or /dev): there only a change of the links or of the
// settings file does, since a scan lets the serial layer list its ports.
void PortNumbering::onFolderChanged(const QString &folder)
{
    watchFolders();
    if (folder == m_folder || AdapterPlatform::adaptersIn(m_folder) != m_links || settingsStamp() != m_settingsSeen)
        refresh();
}

// udev makes the folder with the first adapter (and may remove it with the
// last), so until it exists the nearest parent that does is watched instead.
// Every watch is set again after each change: a watch follows the folder it
// was set on, and a folder put in its place by a rename must be watched anew.
// udev removes the by-id folder and its parent one after the other, so a
// folder found may be gone before its watch is set, or one made meanwhile:
// the watches are set again until they stand on the folders that exist.
void PortNumbering::watchFolders()
{
    QStringList folders{QFileInfo(m_settings.fileName()).absolutePath()};
    if (!AdapterPlatform::adaptersArePolled())
        folders << m_folder << QFileInfo(m_folder).absolutePath();
    constexpr int Attempts = 20;
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        QStringList wanted;
        for (const QString &folder : std::as_const(folders)) {
            const QString nearest = nearestExistingFolder(folder);
            if (!wanted.contains(nearest))
                wanted.append(nearest);
        }
        const QStringList watched = m_watcher.directories();
        if (attempt > 0 && watched == wanted)
            return;
        if (!watched.isEmpty())
            m_watcher.removePaths(watched);
        m_watcher.addPaths(wanted);
    }
    qWarning("%s: the folders keep changing; adapters plugged in now may go unnoticed", qPrintable(m_folder));
}

QDateTime PortNumbering::settingsStamp() const
{
    const QFileInfo file(m_settings.fileName());
    return file.exists() ? file.lastModified() : QDateTime();
}

void PortNumbering::refresh()
{
    m_listed.reset();
    m_settings.reload(); // another program may have mapped a number meanwhile
    m_links = AdapterPlatform::adaptersIn(m_folder);
    // Qt leaves these out of the listing and could not open them by name.
    const QStringList unusable = undecodableNames(m_folder);
    for (const QString &link : unusable) {
        if (!m_namedUnusable.contains(link))
            qWarning("%s", qPrintable(Texts::linkNameNotUtf8(link)));
    }
    m_namedUnusable = unusable;
    // A COM port (Windows) is numbered already: COM5 is port 5.
    for (const QString &link : std::as_const(m_links)) {
        if (!m_settings.numberMappedTo(link) && !unmappedPortNumberOf(link))
            giveNumber(link);
    }
    m_settingsSeen = settingsStamp();
    emit changed();
}

void PortNumbering::giveNumber(const QString &link)
{
    const SettingsStore::PortPick pick =
        m_settings.mapToFreePort(link, m_range.first, m_range.last, listedUnmappedNumbers());
    if (!pick.number)
        qWarning("%s: no free port number from %d to %d", qPrintable(link), m_range.first, m_range.last);
    else if (!pick.written) // the store keeps the mapping for this run
        qWarning("%s: cannot write the settings; port %d stands for %s in this run only",
                 qPrintable(m_settings.fileName()), *pick.number, qPrintable(link));
}

// The numbers whose unmapped device (/dev/ttyS(N-1)) the serial layer lists.
QList<int> PortNumbering::listedUnmappedNumbers() const
{
    QList<int> numbers;
    for (const QSerialPortInfo &info : listedPorts()) {
        if (const std::optional<int> number = unmappedPortNumberOf(AdapterPlatform::listedDevice(info)))
            numbers.append(*number);
    }
    return numbers;
}

QString PortNumbering::devicePath(int number) const { return devicePathForPort(number, m_settings); }

const QList<QSerialPortInfo> &PortNumbering::listedPorts() const
{
    if (!m_listed)
        m_listed = QSerialPortInfo::availablePorts();
    return *m_listed;
}

SerialPortEntry PortNumbering::linkOf(const QString &path) const
{
    SerialPortEntry entry;
    entry.path = path;
    if (path.isEmpty())
        return entry;
    const QFileInfo file(path);
    if (file.absolutePath() == m_folder)
        entry.byIdName = file.fileName();
    entry.device = AdapterPlatform::deviceBehind(path);
    return entry;
}

SerialPortEntry PortNumbering::entryOf(const QString &path) const
{
    SerialPortEntry entry = linkOf(path);
    if (entry.device.isEmpty())
        return entry;
    const QList<QSerialPortInfo> &ports = listedPorts();
    const auto listed = std::find_if(ports.cbegin(), ports.cend(),
                                     [&](const QSerialPortInfo &info) { return AdapterPlatform::listedDevice(info) == entry.device; });
    if (listed != ports.cend()) {
        if (listed->hasVendorIdentifier())
            entry.vendorId = listed->vendorIdentifier();
        if (listed->hasProductIdentifier())
            entry.productId = listed->productIdentifier();
        entry.serialNumber = listed->serialNumber();
        entry.manufacturer = listed->manufacturer();
        entry.product = listed->description();
    }
    fillInFromSystem(entry);
    return entry;
}

// Just after a plug the serial layer may not know the adapter's details yet
// (it reads udev's database, written after the by-id link appears), while
// the kernel has had them all along: every plug gets its serial number.
void PortNumbering::fillInFromSystem(SerialPortEntry &entry)
{
    if (entry.vendorId && !entry.serialNumber.isEmpty() && !entry.manufacturer.isEmpty())
        return;
    const std::optional<UsbDetails> usb = usbDetailsOf(entry.device);
    if (!usb)
        return;
    if (!entry.vendorId || !entry.productId) {
        entry.vendorId = usb->vendorId;
        entry.productId = usb->productId;
    }
    if (entry.serialNumber.isEmpty())
        entry.serialNumber = usb->serialNumber;
    if (entry.manufacturer.isEmpty())
        entry.manufacturer = usb->manufacturer;
    if (entry.product.isEmpty())
        entry.product = usb->product;
}

SerialPortEntry PortNumbering::entry(int number) const
{
    SerialPortEntry entry = entryOf(devicePath(number));
    entry.number = number;
    return entry;
}

QString PortNumbering::describe(int number) const
{
    const SerialPortEntry port = linkOf(devicePath(number));
    if (port.byIdName.isEmpty())
        return port.path;
    return Texts::adapterDescription(adapterName(port.byIdName), port.device.isEmpty() ? Texts::NotConnected : port.device);
}

QList<SerialPortEntry> PortNumbering::entries() const
{
    QList<int> numbers = m_settings.mappedPortNumbers();
    numbers += listedUnmappedNumbers();
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    QList<SerialPortEntry> all;
    for (int number : std::as_const(numbers))
        all.append(entry(number));
    for (const QString &link : m_links) {
        if (!m_settings.numberMappedTo(link))
            all.append(entryOf(link));
    }
    return all;
}
