// Linux keeps a USB device's descriptors in sysfs from the moment the driver
// binds it; other POSIX systems have no such place.
#include "UsbDetails.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString attribute(const QDir &device, const char *name)
{
    QFile file(device.filePath(QString::fromLatin1(name)));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll()).trimmed();
}

// /sys/class/tty/ttyUSB0/device is the serial port; the USB device, the one
// with idVendor, is a few folders up (port, interface, device).
std::optional<QDir> usbDeviceFolder(const QString &deviceNode)
{
    const QString tty = QStringLiteral("/sys/class/tty/") + QFileInfo(deviceNode).fileName() + QStringLiteral("/device");
    QString folder = QFileInfo(tty).canonicalFilePath();
    for (int level = 0; level < 4 && !folder.isEmpty() && folder != QLatin1String("/sys"); ++level) {
        if (QFileInfo::exists(folder + QStringLiteral("/idVendor")))
            return QDir(folder);
        folder = QFileInfo(folder).absolutePath();
    }
    return std::nullopt;
}

} // namespace

std::optional<UsbDetails> usbDetailsOf(const QString &device)
{
#ifdef Q_OS_LINUX
    const std::optional<QDir> usb = usbDeviceFolder(device);
    if (!usb)
        return std::nullopt;
    bool vendorOk = false;
    bool productOk = false;
    UsbDetails details;
    details.vendorId = attribute(*usb, "idVendor").toUShort(&vendorOk, 16);
    details.productId = attribute(*usb, "idProduct").toUShort(&productOk, 16);
    if (!vendorOk || !productOk)
        return std::nullopt;
    details.serialNumber = attribute(*usb, "serial");
    details.manufacturer = attribute(*usb, "manufacturer");
    details.product = attribute(*usb, "product");
    return details;
#else
    (void)device;
    return std::nullopt;
#endif
}
