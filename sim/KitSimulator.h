// A simulated kit on a pseudo-terminal. The host opens slavePath() like any
// serial device; the kit's side runs in a thread of its own.
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
    int silentAfterFrames = -1;                            // answer only the first N frames; -1: all
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

    // Opens the pseudo-terminal and starts answering. Throws std::runtime_error.
    void start();
    void stop();
    QString slavePath() const;

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
    // Appends one line per frame/command to this file from now on (empty: off).
    void setLogFile(const QString &path);

private:
    struct State;
    std::unique_ptr<State> d;
};
