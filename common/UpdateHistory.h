// The update history: one JSON line per update of a kit, appended by the
// window and by the command line alike, in
// $XDG_STATE_HOME/KitUpdater/history.jsonl (~/.local/state/KitUpdater/...).
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

struct UpdateRecord {
    QDateTime time;
    QString program;     // "kitupdater", "kitupdater-cli"
    QString port;        // the port as the user gave it: a number or a device path
    QString device;      // the device it led to
    QString serial;      // the USB adapter's serial number, where known
    QString kitVersion;  // the version text read by the handshake
    QString file;        // absolute path of the HEX file
    QString sha256;      // of the file's bytes; empty when it was not read
    int wordsSent = 0;
    QString ending;      // done, timeout, failed, rejected, stopped
    double seconds = 0;
};

namespace UpdateHistory {

QString filePath();

// Appends one line. Returns the empty text, or why the line could not be written.
QString append(const UpdateRecord &record);

// The last `count` records, oldest first. Lines that cannot be read are passed over.
// Sets *error when the file exists but cannot be read.
QList<UpdateRecord> last(int count, QString *error);

} // namespace UpdateHistory
