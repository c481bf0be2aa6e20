// Start-up time: from process start until the window is shown, for kitupdater
// and, in the same run, for two floors: a bare Qt window of the same size (what
// Qt itself costs) and that window with the notice in Japanese (what any window
// with Japanese text costs: the font database and the glyphs).
//
// Runs alternate between the three, under the offscreen platform, with a
// private config folder and a private runtime folder inside the user's own
// ($XDG_RUNTIME_DIR, a tmpfs on a desktop; the single-instance lock file is
// synced to disk, which costs milliseconds on a disk). Each program prints
// "shown" once its window is up (kitupdater under KITUPDATER_EXIT_WHEN_SHOWN),
// flushed through the pipe at once, and ends; the clock stops when that line
// arrives, not when the process ends ("ends ... after" is how much later it
// ends: near 0 means the line came only with the exit). One warm-up start of
// each is not counted. Beside the wall time the CPU time of the whole process
// (to its end) is printed: other load on the machine disturbs it far less.
//
// Run: build/bench/bench_startup [--runs N] [--env NAME=VALUE ...] [--kitupdater PATH]
// --env adds to the programs' environment (--env QT_QPA_PLATFORM=xcb
// --env DISPLAY=:1 for an X server); --kitupdater times another build of the
// program, an older one say.
#include "Statistics.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <sys/resource.h>

namespace {

[[noreturn]] void fail(const QString &why)
{
    std::fprintf(stderr, "bench_startup: FAILED: %s\n", qPrintable(why));
    std::exit(1);
}

struct Program {
    const char *label;
    QString path;
    QStringList arguments;
    std::vector<double> ms;    // wall time to "shown"
    std::vector<double> endMs; // from "shown" to the process's end: its teardown
    std::vector<double> cpuMs; // CPU time, user and system, of the whole process
};

// CPU time of all ended children so far, in milliseconds.
double childrenCpuMs()
{
    rusage usage {};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    const auto ms = [](const timeval &t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// Starts the program once; adds its wall time to "shown" and its CPU time.
void startOnce(Program &program, const QProcessEnvironment &env)
{
    const double cpuBefore = childrenCpuMs();
    const QString &path = program.path;
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    QElapsedTimer clock;
    clock.start();
    process.start(path, program.arguments);
    QByteArray out;
    while (!out.contains("shown\n")) {
        if (!process.waitForReadyRead(10000))
            fail(QStringLiteral("%1 did not show its window: %2")
                     .arg(path, QString::fromLocal8Bit(process.readAllStandardError())));
        out += process.readAllStandardOutput();
    }
    program.ms.push_back(clock.nsecsElapsed() / 1e6);
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        fail(QStringLiteral("%1 did not end cleanly").arg(path));
    program.endMs.push_back(clock.nsecsElapsed() / 1e6 - program.ms.back());
    program.cpuMs.push_back(childrenCpuMs() - cpuBefore);
}

void report(const Program &program)
{
    std::printf("  %-18s median %6.1f ms   quartiles %6.1f .. %6.1f   min %6.1f   max %6.1f   CPU median %6.1f ms"
                "   ends %4.1f ms after\n",
                program.label, percentile(program.ms, 0.5), percentile(program.ms, 0.25),
                percentile(program.ms, 0.75), percentile(program.ms, 0.0), percentile(program.ms, 1.0),
                percentile(program.cpuMs, 0.5), percentile(program.endMs, 0.5));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    int runs = 20;
    QStringList extraEnv;
    QString kitupdater = QStringLiteral(KITUPDATER_PATH);
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        bool ok = i + 1 < args.size();
        if (ok && args.at(i) == QLatin1String("--runs"))
            runs = args.at(++i).toInt(&ok);
        else if (ok && args.at(i) == QLatin1String("--env"))
            extraEnv << args.at(++i);
        else if (ok && args.at(i) == QLatin1String("--kitupdater"))
            kitupdater = args.at(++i);
        else
            ok = false;
        if (!ok || runs < 1)
            fail(QStringLiteral("usage: bench_startup [--runs N] [--env NAME=VALUE ...] [--kitupdater PATH]"));
    }

    QTemporaryDir config;
    const QString userRuntime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    QTemporaryDir runtime(userRuntime.isEmpty() ? QDir::tempPath() + QStringLiteral("/kitupdater-bench-XXXXXX")
                                                : userRuntime + QStringLiteral("/kitupdater-bench-XXXXXX"));
    if (!config.isValid() || !runtime.isValid())
        fail(QStringLiteral("cannot make the private folders"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    env.insert(QStringLiteral("KITUPDATER_EXIT_WHEN_SHOWN"), QStringLiteral("1"));
    for (const QString &pair : extraEnv)
        env.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));

    const QString bareWindow = QStringLiteral(BARE_WINDOW_PATH);
    std::vector<Program> programs{{"bare Qt window", bareWindow, {}, {}, {}, {}},
                                  {"  with the notice", bareWindow, {QStringLiteral("--text")}, {}, {}, {}},
                                  {"kitupdater", kitupdater, {}, {}, {}, {}}};
    for (Program &program : programs) {
        startOnce(program, env); // warm-up: libraries and fonts into the page cache
        program.ms.clear();
        program.endMs.clear();
        program.cpuMs.clear();
    }
    for (int run = 0; run < runs; ++run)
        for (Program &program : programs)
            startOnce(program, env);

    std::printf("Process start to window shown, %d runs each, alternating (%s, runtime folder in %s):\n", runs,
                qPrintable(env.value(QStringLiteral("QT_QPA_PLATFORM"))),
                qPrintable(QFileInfo(runtime.path()).absolutePath()));
    for (const Program &program : programs)
        report(program);
    const auto ratio = [&](const std::vector<double> Program::*figure, size_t i) {
        return percentile(programs[i].*figure, 0.5) / percentile(programs[0].*figure, 0.5);
    };
    std::printf("  against the bare window (medians): kitupdater %.2f x wall, %.2f x CPU;"
                " with the notice %.2f x wall, %.2f x CPU\n",
                ratio(&Program::ms, 2), ratio(&Program::cpuMs, 2), ratio(&Program::ms, 1), ratio(&Program::cpuMs, 1));
    return 0;
}
