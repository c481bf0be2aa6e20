// kitupdater-cli's port commands: ports, map N DEVICE, unmap N. Each returns
// the exit status (DeviceFailure: the settings could not be written). What
// they print goes to out in every mode; errors go to the console.
#pragma once

#include <QString>
#include <QTextStream>

class Console;
class PortNumbering;
class SettingsStore;

// One line per port number that names a device, tab-separated: number, by-id
// name, device now, USB vendor:product, serial number, manufacturer, access.
// With json: one JSON document, a list of objects with the same facts.
int listPorts(PortNumbering &ports, QTextStream &out, bool json);
int mapPort(SettingsStore &settings, const QString &number, const QString &device, QTextStream &out,
            Console &console);
int unmapPort(SettingsStore &settings, const QString &number, QTextStream &out, Console &console);
