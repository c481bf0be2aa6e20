// A USB serial adapter's details as the kernel has them, for the moment just
// after it is plugged in: udev makes the /dev/serial/by-id link before it
// writes the database entry that QSerialPortInfo reads, so for a while the
// serial layer lists the device without its serial number and maker.
#pragma once

#include <QString>
#include <optional>

struct UsbDetails {
    quint16 vendorId = 0;
    quint16 productId = 0;
    QString serialNumber;
    QString manufacturer;
    QString product;
};

// device: a device node such as /dev/ttyUSB0. None when it is not a USB
// device or the system keeps no such details.
std::optional<UsbDetails> usbDetailsOf(const QString &device);
