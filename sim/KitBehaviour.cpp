#include "KitBehaviour.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <stdexcept>

KitBehaviour::KitBehaviour(const KitSimConfig &config, const KitProfile &profile) : m_kit(config, profile) {}

KitBehaviour::~KitBehaviour()
{
    if (m_log)
        std::fclose(m_log);
}

void KitBehaviour::lineStarted()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_kit.lineStarted();
    m_origin = std::chrono::steady_clock::now();
}

std::vector<KitBehaviour::Reply> KitBehaviour::receive(const char *bytes, qsizetype count)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_kit.receive(reinterpret_cast<const std::uint8_t *>(bytes), std::size_t(count));
}

bool KitBehaviour::hangUpDue() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_kit.hangUpDue();
}

void KitBehaviour::noteHangUp()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    logLocked("hangup");
}

void KitBehaviour::setConfig(const KitSimConfig &config)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_kit.setConfig(config);
}

KitSimConfig KitBehaviour::config() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_kit.config();
}

QVector<KitFrame> KitBehaviour::frames() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return QVector<KitFrame>(m_kit.frames().begin(), m_kit.frames().end());
}

QByteArray KitBehaviour::commandBytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return QByteArray::fromStdString(m_kit.commandBytes());
}

QMap<quint16, quint16> KitBehaviour::memory() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return QMap<quint16, quint16>(m_kit.memory());
}

void KitBehaviour::clearRecord()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_kit.clearRecord();
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
    if (m_log)
        m_kit.setEventLog([this](std::string_view event) { logLocked(event); });
    else
        m_kit.setEventLog(nullptr);
}

// Called with the lock held (the core's events come from inside receive()).
void KitBehaviour::logLocked(std::string_view event)
{
    if (!m_log)
        return;
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - m_origin);
    if (std::fprintf(m_log, "%lld %.*s\n", static_cast<long long>(us.count()), int(event.size()), event.data()) < 0
        || std::fflush(m_log) != 0) {
        std::fprintf(stderr, "kit simulator: log file write failed, logging switched off: %s\n", std::strerror(errno));
        std::fclose(m_log);
        m_log = nullptr; // the core's hook stays: it is running now, and does nothing from here on
    }
}
