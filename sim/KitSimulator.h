// A simulated kit on a pseudo-terminal. The host opens slavePath() like any
// serial device; the kit's side runs in a thread of its own.
//
// What the kit answers:
//   0x46           -> config.answerToF (nothing when empty)
//   0x3F           -> config.versionAnswer
//   0x41 + 4 bytes -> (address high, address low, data high, data low): the
//                     frame is recorded, the word stored when the address is
//                     below 0x2000; config.strayBeforeAnswer goes out at once,
//                     then config.frameAnswer follows after
//                     config.frameDelayUs microseconds.
//   anything else  -> ignored.
// Frames and commands are recorded before their answer is written, so a host
// that has seen the answer also finds the frame in frames().
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVector>
#include <memory>

struct KitSimConfig {
    QByteArray answerToF;                                  // answer to 0x46; empty: none
    QByteArray versionAnswer = QByteArrayLiteral("KIT-FW Ver1.00  "); // answer to 0x3F (any length)
    QByteArray frameAnswer = QByteArray(1, '\x06');        // answer to every 0x41 frame (one or more bytes)
    int frameDelayUs = 0;                                  // delay before each frame answer, microseconds
    // Line noise: written as soon as an answered frame has arrived, before its
    // delay and its answer (never for a silent or hang-up frame). Empty: none.
    QByteArray strayBeforeAnswer;
    // The two counts below refer to the frames recorded so far (clearRecord()
    // starts the count again).
    int silentAfterFrames = -1;                            // answer only the first N frames; -1: all
    // The Nth frame is recorded but not answered; the kit then closes its side
    // of the line, so the host's reads report a hang-up or an error. 0 hangs
    // up at once.
    int hangUpAfterFrames = -1;                            // hang up the line after N frames; -1: never
};

struct KitFrame {
    quint16 address;
    quint16 value;   // high byte << 8 | low byte
};

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

    // Writes the memory as an Intel HEX file (data records, little-endian words
    // at byte address 2*w, end-of-file record). Throws std::runtime_error.
    void writeHexDump(const QString &path) const;
    // Appends one line per frame/command to this file from now on (empty: off):
    // "<microseconds since start()> F", "... ?", "... A 1EFF 1234", "... hangup".
    // Throws std::runtime_error when the file cannot be opened.
    void setLogFile(const QString &path);

private:
    struct State;
    std::unique_ptr<State> d;
};
