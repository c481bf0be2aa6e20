// Memory of the host while a kit keeps sending between exchanges.
//
// Between exchanges the port stays open and nobody reads it. A kit that
// streams (debug output, a USB device at full speed) must not make the host
// grow: this runs a version query, then lets the simulated kit send as fast as
// the pseudo-terminal takes it for a while, printing the host's resident
// memory every few seconds, and ends with another version query.
// Run: build/bench/bench_streaming [SECONDS]   (default 60)
#include "KitLink.h"
#include "KitProfile.h"
#include "KitSimulator.h"
#include "LinkReports.h"
#include "MSComm100.h"
#include "QtSerialLine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <thread>

namespace {

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

class QuietReports : public EndingReports {
public:
    void failureDetail(const QString &reason) override { detail = reason; }
    void versionRead(const QString &v) override { version = v; }
    void finished(const LinkResult &r) override
    {
        ending = r.ending;
        loop.quit();
    }
    QString version;
    QString detail;
    LinkResult::Ending ending = LinkResult::Ending::Failed;
    QEventLoop loop;
};

bool readVersion(KitLink &link, QuietReports &reports, const QString &device)
{
    reports.version.clear();
    link.startVersionQuery({device, QStringLiteral("57600,n,8,1")});
    reports.loop.exec();
    return reports.ending == LinkResult::Ending::Done;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    KitSimulator kit;
    kit.start();
    MSComm100 port(std::make_unique<QtSerialLine>());
    QuietReports reports;
    KitLink link(port, StandardKit, reports);
    if (!readVersion(link, reports, kit.slavePath())) {
        std::fprintf(stderr, "the first version query failed: %s\n", qPrintable(reports.detail));
        return 1;
    }

    std::atomic<bool> streaming{true};
    std::atomic<long long> sent{0};
    std::thread chatter([&] {
        const QByteArray bytes(4096, 'x');
        while (streaming) {
            const qint64 n = kit.sendUnasked(bytes);
            sent += n;
            if (n < bytes.size())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::printf("kit streaming for %d s with the port open and idle; host resident memory:\n", seconds);
    QElapsedTimer clock;
    clock.start();
    const long first = residentKiB();
    long highest = first;
    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout, [&] {
        const long now = residentKiB();
        highest = qMax(highest, now);
        std::printf("  %5.0f s: %6ld KiB, %lld bytes offered by the kit, %d waiting in the port\n",
                    clock.elapsed() / 1000.0, now, sent.load(), port.InBufferCount());
        std::fflush(stdout);
        if (clock.elapsed() >= seconds * 1000LL)
            app.quit();
    });
    sample.start(qMax(1000, seconds * 100));
    app.exec();
    streaming = false;
    chatter.join();

    const bool answered = readVersion(link, reports, kit.slavePath());
    std::printf("resident memory: %ld KiB at the start, %ld KiB at the most, %ld KiB at the end\n", first, highest,
                residentKiB());
    std::printf("version query after the stream: %s\n", answered ? qPrintable(reports.version) : "FAILED");
    return answered ? 0 : 1;
}
