// A serial line that leads straight to a simulated kit, without a terminal
// or a thread: the kit's answers arrive through the event loop after their
// delays. For unit tests of the exchanges and for benchmarks of the host's
// own cost.
#pragma once

#include "KitBehaviour.h"
#include "SerialLine.h"

#include <QList>
#include <memory>

class QTimer;

class InMemoryKitLine final : public SerialLine {
    Q_OBJECT
public:
    // What the line keeps of received bytes while nobody reads them.
    static constexpr qint64 InputBufferSize = 1024;

    explicit InMemoryKitLine(KitBehaviour &kit, QObject *parent = nullptr);
    ~InMemoryKitLine() override;

    void open(const QString &devicePath, const LineSettings &settings) override;
    void close() override;
    bool isOpen() const override { return m_open; }
    void configure(const LineSettings &settings) override;
    void write(const QByteArray &bytes) override;
    qint64 bytesAvailable() const override { return m_input.size(); }
    QByteArray read(qint64 maxBytes) override;
    void discardInput() override { m_input.clear(); }

    // Makes the next open() fail like a device that cannot be opened.
    void failNextOpen(SerialError::Kind kind, const QString &reason);
    // The kit sends these bytes now, unasked (noise, a streaming kit).
    void kitSends(const QByteArray &bytes);
    // The line drops (cable pulled) as the kit's next event.
    void hangUp();

    // What the host did with the line.
    QString devicePath() const { return m_devicePath; }
    LineSettings settings() const { return m_settings; }
    int openCount() const { return m_openCount; }

private:
    void give(const KitBehaviour::Reply &reply);
    void after(int delayUs, std::function<void()> action);
    void arrive(const QByteArray &bytes);
    void dropLine();

    KitBehaviour &m_kit;
    bool m_open = false;
    QString m_devicePath;
    LineSettings m_settings;
    int m_openCount = 0;
    QByteArray m_input;
    std::optional<SerialError> m_openFailure;
    QList<QTimer *> m_pending; // the kit's answers still on their way
};
