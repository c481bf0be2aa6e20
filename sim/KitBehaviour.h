// The simulated kit of the core, for the desktop's carriers: safe to use from
// the kit's thread and the test's at once, with Qt's containers, and with a
// log file of what it received.
#pragma once

#include "SimulatedKit.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVector>
#include <chrono>
#include <cstdio>
#include <mutex>

class KitBehaviour {
public:
    using Reply = SimulatedKit::Reply;
    using Step = SimulatedKit::Step;

    explicit KitBehaviour(const KitSimConfig &config = {}, const KitProfile &profile = StandardKit);
    ~KitBehaviour();

    // A new line starts (a fresh connection): a half-received frame is forgotten
    // and the log's clock starts again.
    void lineStarted();
    // Takes received bytes; returns the replies to what they completed, in order.
    std::vector<Reply> receive(const char *bytes, qsizetype count);
    // True when the configured hang-up count is reached.
    bool hangUpDue() const;
    // Notes a hang-up in the log.
    void noteHangUp();

    void setConfig(const KitSimConfig &config);
    KitSimConfig config() const;
    const KitProfile &profile() const { return m_kit.profile(); }

    QVector<KitFrame> frames() const;
    QByteArray commandBytes() const;
    QMap<quint16, quint16> memory() const;
    void clearRecord();

    // Appends one line per frame/command to this file from now on (empty: off):
    // "<microseconds since the line started> F", "... ?", "... A 1EFF 1234", "... hangup".
    // Throws std::runtime_error when the file cannot be opened.
    void setLogFile(const QString &path);

private:
    void logLocked(std::string_view event);

    mutable std::mutex m_mutex;
    SimulatedKit m_kit;
    std::FILE *m_log = nullptr;
    std::chrono::steady_clock::time_point m_origin = std::chrono::steady_clock::now();
};
