// What the simulated kit does with the bytes it receives, whatever carries
// them (a pseudo-terminal or an in-memory line):
//   prepare command (0x46) -> config.answerToF (nothing when empty), after
//                             config.answerToFDelayUs (the kit reads nothing meanwhile)
//   version command (0x3F) -> config.versionAnswer, after config.versionDelayUs,
//                             in pieces of config.versionPieceBytes when set
//   frame (0x41 + 4 bytes) -> (address high, address low, data high, data low):
//                             the frame is recorded, the word stored when the
//                             address lies in the kit's memory;
//                             config.strayBeforeAnswer goes out at once, then
//                             config.frameAnswer after config.frameDelayUs.
//   anything else          -> ignored.
// Frames and commands are recorded before their answer is given, so a host
// that has seen the answer also finds the frame in frames(). Thread-safe.
#pragma once

#include "KitProfile.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVector>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>

struct KitSimConfig {
    QByteArray answerToF;                                  // answer to 0x46; empty: none
    int answerToFDelayUs = 0;                              // delay before the answer to 0x46
    QByteArray versionAnswer = QByteArrayLiteral("KIT-FW Ver1.00  "); // answer to 0x3F (any length)
    int versionDelayUs = 0;                                // delay before the version answer
    int versionPieceBytes = 0;                             // > 0: the answer in pieces of this size...
    int versionPieceGapUs = 0;                             // ...this far apart
    QByteArray frameAnswer = QByteArray(1, '\x06');        // answer to every frame (one or more bytes)
    int frameDelayUs = 0;                                  // delay before each frame answer, microseconds
    // Line noise: given as soon as an answered frame has arrived, before its
    // delay and its answer (never for a silent or hang-up frame). Empty: none.
    QByteArray strayBeforeAnswer;
    // The two counts below refer to the frames recorded so far (clearRecord()
    // starts the count again).
    int silentAfterFrames = -1;                            // answer only the first N frames; -1: all
    // The Nth frame is recorded but not answered; the kit then hangs up the
    // line. 0 hangs up at once.
    int hangUpAfterFrames = -1;                            // hang up the line after N frames; -1: never
};

struct KitFrame {
    quint16 address;
    quint16 value;   // high byte << 8 | low byte
};

class KitBehaviour {
public:
    // The kit's answer to one completed command or frame: bytes after
    // delays, in order; or a hang-up instead.
    struct Step {
        int delayUs = 0; // after the step before
        QByteArray bytes;
    };
    struct Reply {
        QVector<Step> steps;
        bool hangUp = false;
    };

    explicit KitBehaviour(const KitSimConfig &config = {}, const KitProfile &profile = StandardKit);
    ~KitBehaviour();

    // A new line starts (a fresh connection): a half-received frame is forgotten
    // and the log's clock starts again.
    void lineStarted();
    // Takes received bytes; returns the replies to what they completed, in order.
    QVector<Reply> receive(const char *bytes, qsizetype count);
    // True when the configured hang-up count is reached.
    bool hangUpDue() const;
    // Notes a hang-up in the log.
    void noteHangUp();

    void setConfig(const KitSimConfig &config);
    KitSimConfig config() const;
    const KitProfile &profile() const { return m_profile; }

    QVector<KitFrame> frames() const;
    QByteArray commandBytes() const;
    QMap<quint16, quint16> memory() const;
    void clearRecord();

    // Appends one line per frame/command to this file from now on (empty: off):
    // "<microseconds since the line started> F", "... ?", "... A 1EFF 1234", "... hangup".
    // Throws std::runtime_error when the file cannot be opened.
    void setLogFile(const QString &path);

private:
    std::optional<Reply> receiveByte(unsigned char byte);
    Reply commandReply(unsigned char command);
    Reply frameReply(const KitFrame &frame);
    void logLocked(const char *event);

    const KitProfile &m_profile;
    mutable std::mutex m_mutex;
    KitSimConfig m_config;
    QVector<KitFrame> m_frames;
    QByteArray m_commands;
    QMap<quint16, quint16> m_memory;
    std::FILE *m_log = nullptr;
    std::chrono::steady_clock::time_point m_origin = std::chrono::steady_clock::now();
    // The frame being received: only the receiving side touches it.
    bool m_inFrame = false;
    QByteArray m_payload;
};
