// What the command line needs from the operating system: its arguments,
// signals that stop it in an orderly way, its output streams, and advice for
// the user on devices and adapters. One implementation per platform family,
// chosen by CMake.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <cstdint>
#include <cstdio>
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

// The program's arguments, its name first, as the bytes of HexFile's file
// names: argv as it came on POSIX systems; on Windows the wide command line
// (argv there holds only what the ANSI code page can spell).
QList<QByteArray> programArguments(int argc, char *argv[]);

// Standard output or standard error, as the system takes text. A terminal
// gets the text as characters; a file or a pipe gets UTF-8. On a Windows
// console that means the console's own wide characters, whatever its code
// page: UTF-8 bytes in a code page 932 console would be mojibake.
class OutputStream {
public:
    explicit OutputStream(std::FILE *stream);
    ~OutputStream();
    OutputStream(const OutputStream &) = delete;
    OutputStream &operator=(const OutputStream &) = delete;

    // Writes at once; a stream nobody reads any more (a closed pipe) takes it
    // without a word.
    void write(const QString &text);
    // True when this is a terminal that follows the ANSI escape codes the
    // progress bars are drawn with. Asked once; on Windows the asking turns
    // them on for the console until the program ends.
    bool followsEscapes();

private:
    std::FILE *m_stream;
    bool m_console = false;       // a terminal (a console on Windows)
    int m_escapes = -1;           // -1: not asked yet
    std::uint32_t m_savedMode = 0; // Windows: the console's mode before, put back at the end
    bool m_modeChanged = false;
};

// How to get access to a device this user may not open; empty when there is nothing to say.
QString accessAdvice(const QString &devicePath);

// How to shorten the USB serial adapter's latency timer behind the device, as
// the system offers it.
QString latencyAdvice(const QString &devicePath);
