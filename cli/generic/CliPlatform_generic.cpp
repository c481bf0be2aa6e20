// Systems without POSIX signals: Ctrl+C ends the program the system's way.
#include "CliPlatform.h"

#include <QSocketNotifier>
#include <cstdio>
#include <io.h>

StopSignals::StopSignals(QObject *parent) : QObject(parent) {}
StopSignals::~StopSignals() = default;
void StopSignals::onReadable() {}

bool stderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

QString accessAdvice(const QString &) { return QString(); }
