// Windows: Ctrl+C, Ctrl+Break, closing the console window, logging off and
// shutting down stop the command line in order, as the POSIX signals do. The
// console gets wide characters, and the command line is read wide.
#include "CliPlatform.h"

#include "HexFile.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QSocketNotifier>

#include <atomic>

#include <csignal>
#include <cstdio>
#include <io.h>
#include <windows.h>

namespace {

std::atomic<StopSignals *> receiver{nullptr};
// Set when the program has finished its orderly stop (the StopSignals object
// is destroyed on the way out of main).
HANDLE stoppedEvent = nullptr;

int signalNumberOf(DWORD controlEvent)
{
    switch (controlEvent) {
    case CTRL_C_EVENT:
        return SIGINT;
    case CTRL_BREAK_EVENT:
        return SIGBREAK;
    default: // CTRL_CLOSE_EVENT, CTRL_LOGOFF_EVENT, CTRL_SHUTDOWN_EVENT
        return SIGTERM;
    }
}

// Runs on a thread of its own that Windows starts for each event.
BOOL WINAPI onControlEvent(DWORD controlEvent)
{
    const int signalNumber = signalNumberOf(controlEvent);
    if (StopSignals *target = receiver.load())
        QMetaObject::invokeMethod(target, "deliver", Qt::QueuedConnection, Q_ARG(int, signalNumber));
    // Windows ends the process as soon as this returns from a close, logoff or
    // shutdown event: wait (within the 5 seconds it grants) for the stop to
    // release the port and print its line.
    if (signalNumber == SIGTERM && stoppedEvent)
        WaitForSingleObject(stoppedEvent, 4500);
    return TRUE;
}

} // namespace

StopSignals::StopSignals(QObject *parent) : QObject(parent)
{
    receiver = this;
    stoppedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onControlEvent, TRUE);
}

StopSignals::~StopSignals()
{
    receiver = nullptr;
    if (stoppedEvent)
        SetEvent(stoppedEvent);
}

void StopSignals::onReadable() {}

// Qt reads the command line with GetCommandLineW.
QList<QByteArray> programArguments(int, char *[])
{
    QList<QByteArray> arguments;
    for (const QString &argument : QCoreApplication::arguments())
        arguments.append(HexFile::encodeName(argument));
    return arguments;
}

namespace {

HANDLE handleOf(std::FILE *stream) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))); }

// WriteConsoleW takes a limited amount at a time; a piece never ends between
// the two halves of a surrogate pair.
void writeConsole(HANDLE console, const QString &text)
{
    constexpr qsizetype Piece = 8192;
    for (qsizetype from = 0; from < text.size();) {
        qsizetype length = qMin(Piece, text.size() - from);
        if (from + length < text.size() && text.at(from + length - 1).isHighSurrogate())
            --length;
        DWORD written = 0;
        if (!WriteConsoleW(console, text.utf16() + from, DWORD(length), &written, nullptr) || written == 0)
            return;
        from += qsizetype(written);
    }
}

bool sameCell(COORD a, COORD b) { return a.X == b.X && a.Y == b.Y; }

// Writes an escape code that shows nothing (back to the plain colours) and
// looks whether the cursor moved: a console that prints the code as text
// (Wine's, which takes the mode all the same) has it taken away again.
bool followsEscapeCode(HANDLE console)
{
    static const wchar_t probe[] = L"\x1b[0m";
    constexpr DWORD probeLength = sizeof probe / sizeof probe[0] - 1;
    CONSOLE_SCREEN_BUFFER_INFO before{}, after{};
    DWORD written = 0;
    if (!GetConsoleScreenBufferInfo(console, &before)
        || !WriteConsoleW(console, probe, probeLength, &written, nullptr)
        || !GetConsoleScreenBufferInfo(console, &after))
        return false;
    if (sameCell(before.dwCursorPosition, after.dwCursorPosition))
        return true;
    FillConsoleOutputCharacterW(console, L' ', probeLength, before.dwCursorPosition, &written);
    SetConsoleCursorPosition(console, before.dwCursorPosition);
    return false;
}

} // namespace

OutputStream::OutputStream(std::FILE *stream) : m_stream(stream)
{
    DWORD mode = 0;
    m_console = GetConsoleMode(handleOf(stream), &mode) != 0;
}

OutputStream::~OutputStream()
{
    if (m_modeChanged)
        SetConsoleMode(handleOf(m_stream), m_savedMode);
}

// A file or a pipe gets UTF-8, as on every other system: a script reads the
// same bytes whatever code page its console has.
void OutputStream::write(const QString &text)
{
    if (m_console) {
        writeConsole(handleOf(m_stream), text);
        return;
    }
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_stream);
    std::fflush(m_stream);
}

// Consoles follow escape codes only when asked (Windows 10 and later);
// older ones refuse the mode, and then no bars are drawn.
bool OutputStream::followsEscapes()
{
    if (m_escapes >= 0)
        return m_escapes == 1;
    m_escapes = 0;
    const HANDLE console = handleOf(m_stream);
    DWORD mode = 0;
    if (!m_console || !GetConsoleMode(console, &mode))
        return false;
    if (!(mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
        if (!SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING))
            return false;
        m_savedMode = mode;
        m_modeChanged = true;
    }
    m_escapes = followsEscapeCode(console) ? 1 : 0;
    if (m_escapes == 0 && m_modeChanged) {
        SetConsoleMode(console, m_savedMode);
        m_modeChanged = false;
    }
    return m_escapes == 1;
}

// Windows gives every user access to the COM ports; there is no group to join.
QString accessAdvice(const QString &) { return QString(); }

// Windows has no request for it: the adapter's driver keeps the setting.
QString latencyAdvice(const QString &)
{
    return QStringLiteral("Set it to 1 ms: Device Manager > Ports (COM & LPT) > the port > Properties > "
                          "Port Settings > Advanced > Latency Timer.");
}
