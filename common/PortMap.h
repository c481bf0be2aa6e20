// From the port box's text to a serial device.
#pragma once

#include <QString>
#include <optional>

class SettingsStore;

// The number in a port text: ASCII digits with an optional sign, blanks around
// them allowed, within the range of a signed 16-bit number. Anything else: none.
std::optional<int> parsePortNumber(const QString &text);

// The device behind a port number: the path mapped in the settings' "Ports"
// group, else /dev/ttyS(N-1) on Linux and COMN on Windows. Empty when the
// number names no device at all (below 1 and unmapped).
QString devicePathForPort(int number, const SettingsStore &settings);

// The other way round: the number whose unmapped device is this one
// (/dev/ttyS6 is 7, COM7 is 7). None for any other device.
std::optional<int> unmappedPortNumberOf(const QString &devicePath);
