// kitupdater-cli run as a separate process, the way a script runs it.
#pragma once

#include <QProcess>
#include <QStringList>

struct CliRun {
    int exitCode = -1; // -1: it crashed or did not finish in time
    QStringList out;   // stdout, line by line
    QString err;
};

// command: the program and its arguments; env: the whole environment it gets.
inline CliRun runCli(QStringList command, const QProcessEnvironment &env)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(command.takeFirst(), command);
    CliRun result;
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'));
    if (result.out.last().isEmpty())
        result.out.removeLast();
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}
