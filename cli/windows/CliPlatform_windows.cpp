// Windows: Ctrl+C, Ctrl+Break, closing the console window, logging off and
// shutting down stop the command line in order, as the POSIX signals do.
#include "CliPlatform.h"

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

bool stderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

// Windows gives every user access to the COM ports; there is no group to join.
QString accessAdvice(const QString &) { return QString(); }
