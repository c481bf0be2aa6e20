#include "InMemoryKitLine.h"

#include <QTimer>

InMemoryKitLine::InMemoryKitLine(KitBehaviour &kit, QObject *parent) : SerialLine(parent), m_kit(kit) {}

InMemoryKitLine::~InMemoryKitLine() { close(); }

void InMemoryKitLine::open(const QString &devicePath, const LineSettings &settings)
{
    if (m_open)
        throw SerialError(SerialError::Kind::AlreadyOpen, QStringLiteral("the port is already open"));
    if (m_openFailure) {
        const SerialError failure = *m_openFailure;
        m_openFailure.reset();
        throw failure;
    }
    m_devicePath = devicePath;
    m_settings = settings;
    m_open = true;
    ++m_openCount;
    m_kit.lineStarted();
}

// Answers on their way are lost with the line, as on a real cable.
void InMemoryKitLine::close()
{
    qDeleteAll(m_pending);
    m_pending.clear();
    m_input.clear();
    m_open = false;
}

void InMemoryKitLine::configure(const LineSettings &settings) { m_settings = settings; }

void InMemoryKitLine::write(const QByteArray &bytes)
{
    if (!m_open)
        throw SerialError(SerialError::Kind::NotOpen, QStringLiteral("the port is not open"));
    for (const KitBehaviour::Reply &reply : m_kit.receive(bytes.constData(), bytes.size()))
        give(reply);
}

QByteArray InMemoryKitLine::read(qint64 maxBytes)
{
    const qint64 count = maxBytes > 0 ? qMin<qint64>(maxBytes, m_input.size()) : m_input.size();
    const QByteArray taken = m_input.left(count);
    m_input.remove(0, count);
    return taken;
}

void InMemoryKitLine::failNextOpen(SerialError::Kind kind, const QString &reason)
{
    m_openFailure = SerialError(kind, reason);
}

void InMemoryKitLine::kitSends(const QByteArray &bytes) { arrive(bytes); }

void InMemoryKitLine::hangUp()
{
    after(0, [this] { dropLine(); });
}

// Even an answer without delay arrives through the event loop, as it would
// from a real line: never inside write().
void InMemoryKitLine::give(const KitBehaviour::Reply &reply)
{
    if (reply.hangUp) {
        m_kit.noteHangUp();
        return hangUp();
    }
    int delayUs = 0;
    for (const KitBehaviour::Step &step : reply.steps) {
        delayUs += step.delayUs;
        if (!step.bytes.empty())
            after(delayUs, [this, bytes = QByteArray::fromStdString(step.bytes)] { arrive(bytes); });
    }
}

void InMemoryKitLine::after(int delayUs, std::function<void()> action)
{
    auto *timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, timer, action = std::move(action)] {
        m_pending.removeOne(timer);
        timer->deleteLater();
        action();
    });
    m_pending.append(timer);
    timer->start((delayUs + 999) / 1000);
}

void InMemoryKitLine::arrive(const QByteArray &bytes)
{
    if (!m_open)
        return;
    m_input.append(bytes.left(InputBufferSize - m_input.size()));
    emit bytesArrived();
}

void InMemoryKitLine::dropLine()
{
    if (!m_open)
        return;
    close();
    emit failed(m_devicePath + QStringLiteral(": the device went away (unplugged?)"));
}
