// Where USB serial adapters show up, one implementation per platform family:
// on Linux as links in udev's by-id folder, named after the adapter's maker,
// model and serial number; on Windows as the COM ports that have USB ids,
// numbered by Windows itself.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QSerialPortInfo;

namespace AdapterPlatform {

// The adapters plugged in now, by the path the tool keeps them under: links
// in the by-id folder (POSIX), COM port names such as "COM5" (Windows).
QStringList adaptersIn(const QString &byIdFolder);

// The device a port path leads to now; empty when nothing is behind it.
QString deviceBehind(const QString &path);

// A listed port's device, in the form deviceBehind gives.
QString listedDevice(const QSerialPortInfo &info);

// True where adapters are found by looking at the serial layer's list again
// (Windows, every PollIntervalMs); else by watching the by-id folder.
bool adaptersArePolled();
constexpr int PollIntervalMs = 1000;

// Where adapters are looked for, for messages: the folder, or the COM ports.
QString adapterPlace(const QString &byIdFolder);

// The port a name stands for where the system names its serial ports itself:
// on Windows "COM5", "com5" and "\\.\COM12" are the COM ports "COM5" and
// "COM12", as every Windows serial tool takes them. None for any other text,
// and none on POSIX systems, where a device is a path.
std::optional<QString> systemPortNamed(const QString &text);

// How a message asks for a device: "a device path such as /dev/ttyUSB0".
QString deviceExample();

} // namespace AdapterPlatform
