#include "SerialAdapters.h"

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

QStringList linksIn(const QString &folder)
{
    const QDir dir(folder);
    QStringList links;
    for (const QFileInfo &info :
         dir.entryInfoList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name)) {
        if (info.isSymLink())
            links.append(dir.filePath(info.fileName()));
    }
    return links;
}

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

} // namespace

QString serialByIdFolder()
{
    const QString chosen = qEnvironmentVariable("KITUPDATER_SERIAL_BY_ID");
    return chosen.isEmpty() ? DefaultByIdFolder : chosen;
}

PortNumbering::PortNumbering(SettingsStore &settings, PortRange range, const QString &byIdFolder, QObject *parent)
    : QObject(parent), m_settings(settings), m_range(range), m_folder(QDir::cleanPath(QFileInfo(byIdFolder).absoluteFilePath()))
{
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        watchNearestFolder();
        refresh();
    });
    watchNearestFolder();
    refresh();
}

// udev makes the folder with the first adapter (and may remove it with the
// last), so until it exists the nearest parent that does is watched instead.
void PortNumbering::watchNearestFolder()
{
    QString nearest = m_folder;
    while (!QFileInfo(nearest).isDir()) {
        const QString parent = QFileInfo(nearest).absolutePath();
        if (parent == nearest)
            break;
        nearest = parent;
    }
    const QStringList watched = m_watcher.directories();
    if (watched == QStringList{nearest})
        return;
    if (!watched.isEmpty())
        m_watcher.removePaths(watched);
    m_watcher.addPath(nearest);
}

void PortNumbering::refresh()
{
    m_listed.reset();
    m_links = linksIn(m_folder);
    for (const QString &link : std::as_const(m_links)) {
        if (!numberMappedTo(link))
            giveNumber(link);
    }
    emit changed();
}

void PortNumbering::giveNumber(const QString &link)
{
    QList<int> taken = m_settings.mappedPortNumbers();
    taken += listedUnmappedNumbers();
    for (int number = m_range.first; number <= m_range.last; ++number) {
        if (taken.contains(number))
            continue;
        // The store keeps the mapping for this run even when its file cannot be written.
        if (!m_settings.setMappedPort(number, link))
            qWarning("%s: cannot write the settings; port %d stands for %s in this run only",
                     qPrintable(m_settings.fileName()), number, qPrintable(link));
        return;
    }
    qWarning("%s: no free port number from %d to %d", qPrintable(link), m_range.first, m_range.last);
}

std::optional<int> PortNumbering::numberMappedTo(const QString &path) const
{
    for (int number : m_settings.mappedPortNumbers()) {
        if (m_settings.mappedPort(number) == path)
            return number;
    }
    return std::nullopt;
}

// The numbers whose unmapped device (/dev/ttyS(N-1)) the serial layer lists.
QList<int> PortNumbering::listedUnmappedNumbers() const
{
    QList<int> numbers;
    for (const QSerialPortInfo &info : listedPorts()) {
        if (const std::optional<int> number = unmappedPortNumberOf(info.systemLocation()))
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
    if (file.exists())
        entry.device = file.canonicalFilePath();
    return entry;
}

SerialPortEntry PortNumbering::entryOf(const QString &path) const
{
    SerialPortEntry entry = linkOf(path);
    if (entry.device.isEmpty())
        return entry;
    const QList<QSerialPortInfo> &ports = listedPorts();
    const auto listed = std::find_if(ports.cbegin(), ports.cend(),
                                     [&](const QSerialPortInfo &info) { return info.systemLocation() == entry.device; });
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
        if (!numberMappedTo(link))
            all.append(entryOf(link));
    }
    return all;
}
