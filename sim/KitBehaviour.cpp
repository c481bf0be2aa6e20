#include "KitBehaviour.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <stdexcept>

KitBehaviour::KitBehaviour(const KitSimConfig &config, const KitProfile &profile)
    : m_profile(profile), m_config(config)
{
}

KitBehaviour::~KitBehaviour()
{
    if (m_log)
        std::fclose(m_log);
}

void KitBehaviour::lineStarted()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_inFrame = false;
    m_payload.clear();
    m_origin = std::chrono::steady_clock::now();
}

QVector<KitBehaviour::Reply> KitBehaviour::receive(const char *bytes, qsizetype count)
{
    QVector<Reply> replies;
    for (qsizetype i = 0; i < count; ++i) {
        if (std::optional<Reply> reply = receiveByte(static_cast<unsigned char>(bytes[i])))
            replies.append(*reply);
    }
    return replies;
}

// Frames may arrive split across reads; inside a frame every byte is data,
// even one that looks like a command.
std::optional<KitBehaviour::Reply> KitBehaviour::receiveByte(unsigned char byte)
{
    if (m_inFrame) {
        m_payload.append(char(byte));
        if (m_payload.size() < m_profile.frameLength - 1)
            return std::nullopt;
        m_inFrame = false;
        const auto at = [this](int i) { return quint16(quint8(m_payload.at(i))); };
        return frameReply({quint16(at(0) << 8 | at(1)), quint16(at(2) << 8 | at(3))});
    }
    if (byte == quint8(m_profile.frameStart)) {
        m_inFrame = true;
        m_payload.clear();
        return std::nullopt;
    }
    if (byte == quint8(m_profile.prepareCommand) || byte == quint8(m_profile.versionCommand))
        return commandReply(byte);
    return std::nullopt;
}

KitBehaviour::Reply KitBehaviour::commandReply(unsigned char command)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commands.append(char(command));
    Reply reply;
    if (command == quint8(m_profile.prepareCommand)) {
        logLocked("F");
        reply.steps.append({m_config.answerToFDelayUs, m_config.answerToF});
        return reply;
    }
    logLocked("?");
    const QByteArray &answer = m_config.versionAnswer;
    const int piece = m_config.versionPieceBytes > 0 ? m_config.versionPieceBytes : int(answer.size());
    for (int at = 0; at < answer.size(); at += piece)
        reply.steps.append({at == 0 ? m_config.versionDelayUs : m_config.versionPieceGapUs, answer.mid(at, piece)});
    return reply;
}

KitBehaviour::Reply KitBehaviour::frameReply(const KitFrame &frame)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frames.append(frame);
    if (frame.address < m_profile.memoryWords)
        m_memory.insert(frame.address, frame.value);
    if (m_log) { // formatting costs as much as the rest of a frame: only for a log
        char event[32];
        std::snprintf(event, sizeof event, "A %04X %04X", frame.address, frame.value);
        logLocked(event);
    }
    const int count = int(m_frames.size());
    Reply reply;
    reply.hangUp = m_config.hangUpAfterFrames >= 0 && count >= m_config.hangUpAfterFrames;
    const bool silent = m_config.silentAfterFrames >= 0 && count > m_config.silentAfterFrames;
    if (!reply.hangUp && !silent)
        reply.steps = {{0, m_config.strayBeforeAnswer}, {m_config.frameDelayUs, m_config.frameAnswer}};
    return reply;
}

bool KitBehaviour::hangUpDue() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_config.hangUpAfterFrames >= 0 && m_frames.size() >= m_config.hangUpAfterFrames;
}

void KitBehaviour::noteHangUp()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    logLocked("hangup");
}

void KitBehaviour::setConfig(const KitSimConfig &config)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_config = config;
}

KitSimConfig KitBehaviour::config() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_config;
}

QVector<KitFrame> KitBehaviour::frames() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

QByteArray KitBehaviour::commandBytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands;
}

QMap<quint16, quint16> KitBehaviour::memory() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_memory;
}

void KitBehaviour::clearRecord()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_frames.clear();
    m_commands.clear();
    m_memory.clear();
}

void KitBehaviour::setLogFile(const QString &path)
{
    std::FILE *opened = nullptr;
    if (!path.isEmpty()) {
        opened = std::fopen(QFile::encodeName(path).constData(), "ae");
        if (!opened)
            throw std::runtime_error("cannot open the log file " + path.toStdString() + ": " + std::strerror(errno));
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_log)
        std::fclose(m_log);
    m_log = opened;
}

void KitBehaviour::logLocked(const char *event)
{
    if (!m_log)
        return;
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - m_origin);
    if (std::fprintf(m_log, "%lld %s\n", static_cast<long long>(us.count()), event) < 0 || std::fflush(m_log) != 0) {
        std::fprintf(stderr, "kit simulator: log file write failed, logging switched off: %s\n", std::strerror(errno));
        std::fclose(m_log);
        m_log = nullptr;
    }
}
