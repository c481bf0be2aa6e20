// What the command line needs from the operating system: signals that stop
// it in an orderly way, and whether its output goes to a terminal. One
// implementation per platform family, chosen by CMake.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QSocketNotifier;

// Turns SIGINT, SIGTERM and SIGHUP (on Windows: Ctrl+C, Ctrl+Break and
// closing the console) into a Qt signal on the event loop's
// thread (the handler itself only writes a byte into a pipe), and makes
// writes into a closed pipe fail with an error instead of killing the program.
class StopSignals final : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;
    // The first signal that arrived, 0 for none.
    int received() const { return m_received; }

signals:
    void stopRequested(int signalNumber);

private:
    // Where a platform's handler hands a signal to the event loop's thread.
    Q_INVOKABLE void deliver(int signalNumber)
    {
        if (m_received == 0)
            m_received = signalNumber;
        emit stopRequested(signalNumber);
    }
    void onReadable();
    std::unique_ptr<QSocketNotifier> m_notifier;
    int m_received = 0;
};

// True when standard error is a terminal (progress bars are drawn there).
bool stderrIsTerminal();

// How to get access to a device this user may not open; empty when there is nothing to say.
QString accessAdvice(const QString &devicePath);
