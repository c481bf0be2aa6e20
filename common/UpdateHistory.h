// The update history: one JSON line per update of a kit, appended by the
// window and by the command line alike, in
// $XDG_STATE_HOME/KitUpdater/history.jsonl (~/.local/state/KitUpdater/...).
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <functional>
#include <optional>

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
    // The median wait from a word's frame to the kit's answer; none where no
    // word was answered, and in records of older versions.
    std::optional<double> medianAnswerWaitMs;
};

namespace UpdateHistory {

QString filePath();

// A record as its line holds it. Older versions read these lines too: a key
// is only ever added, and one that is not known is written not at all.
QJsonObject toJson(const UpdateRecord &record);

// Appends one line, on a line of its own also after a last line that a crash
// or a full disk cut short. Returns the empty text, or why the line could not
// be written.
QString append(const UpdateRecord &record);

// What reading the history met besides the records it gave.
struct Reading {
    // Lines among those read that are no update record: cut short, not JSON,
    // JSON of another shape ({}). Empty lines do not count.
    int skippedLines = 0;
    // Why the file could not be read; empty when it was read or does not exist.
    QString error;
};

// Gives the last `count` records to `each`, oldest first. The file is read
// from its end and only as far back as those records reach, and only where
// they start is kept, not the records: memory stays small for a history of
// any length and for any count.
Reading readLast(int count, const std::function<void(const UpdateRecord &)> &each);

} // namespace UpdateHistory
