// A simulated kit on a pseudo-terminal. The host opens slavePath() like any
// serial device; the kit's side runs in a thread of its own. What the kit
// answers is KitBehaviour's.
#pragma once

#include "KitBehaviour.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVector>
#include <memory>

class KitSimulator {
public:
    explicit KitSimulator(const KitSimConfig &config = {});
    ~KitSimulator();   // stops the kit and closes the pseudo-terminal

    KitSimulator(const KitSimulator &) = delete;
    KitSimulator &operator=(const KitSimulator &) = delete;

    // Opens a new pseudo-terminal and starts answering. Does nothing while the
    // kit is running. Throws std::runtime_error.
    void start();
    // Stops answering and closes the pseudo-terminal, like pulling the cable:
    // a host that still has the port open sees a hang-up. start() again opens
    // a new pseudo-terminal (with a new slavePath()). The record is kept.
    void stop();
    // The slave device of the last start() (stays valid text after stop()).
    QString slavePath() const;
    // True from start() until stop() or a hang-up.
    bool isRunning() const;

    // Changes the behaviour for the frames that come from now on (thread-safe).
    void setConfig(const KitSimConfig &config);
    KitSimConfig config() const;

    // What the kit has seen and kept (thread-safe snapshots).
    QVector<KitFrame> frames() const;          // every 0x41 frame received, in order
    QByteArray commandBytes() const;           // every 0x46 / 0x3F byte received, in order
    QMap<quint16, quint16> memory() const;     // the words written, by word address (8K words)
    void clearRecord();                        // forgets frames, commands and memory

    // The kit sends these bytes unasked (debug output, noise), as far as the
    // line takes them now; returns how many it took.
    qint64 sendUnasked(const QByteArray &bytes);

    // The kit's answers and its record.
    KitBehaviour &behaviour();

    // Writes the memory as an Intel HEX file (data records, little-endian words
    // at byte address 2*w, end-of-file record). Throws std::runtime_error.
    void writeHexDump(const QString &path) const;
    // Appends one line per frame/command to this file from now on (empty: off):
    // "<microseconds since start()> F", "... ?", "... A 1EFF 1234", "... hangup".
    // Throws std::runtime_error when the file cannot be opened.
    void setLogFile(const QString &path) { behaviour().setLogFile(path); }

private:
    struct State;
    std::unique_ptr<State> d;
};
