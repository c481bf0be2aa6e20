// Transfer speed of a firmware update against the in-process simulated kit,
// and the host's CPU load while the kit is slow.
//
// Four exchanges are timed, each writing a generated HEX image word by word:
//   - kitupdater: an update through KitLink and MSComm100 (QSerialPort on a
//     pseudo-terminal), with reports that show nothing;
//   - raw termios: the same frames with write() and poll()+read() on the slave,
//     the floor that the pseudo-terminal and the kit thread leave;
//   - a slow kit that answers each frame after 1 ms, where the question is how
//     much CPU the host burns while it waits;
//   - eight such slow kits updated at once by one host thread, beside one.
// Run: build/bench/bench_transfer [--runs N] [--only kitupdater|raw|slow|several]
#include "HexFile.h"
#include "HexWriter.h"
#include "KitLink.h"
#include "KitProfile.h"
#include "KitSimulator.h"
#include "LinkReports.h"
#include "MSComm100.h"
#include "QtSerialLine.h"
#include "Statistics.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int SimPortNumber = 7;
constexpr int SlowKitDelayUs = 1000;
constexpr int SlowKitWords = 2000;
const int AnswerTimeoutMs = int(StandardKit.wordAnswerLimit.count());

[[noreturn]] void fail(const std::string &why)
{
    std::fprintf(stderr, "bench_transfer: FAILED: %s\n", why.c_str());
    std::exit(1);
}

// ---- clocks ----

qint64 nowNs(clockid_t clock)
{
    timespec t {};
    ::clock_gettime(clock, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

qint64 wallNs() { return nowNs(CLOCK_MONOTONIC); }

qint64 ns(const timeval &t) { return qint64(t.tv_sec) * 1000000000 + qint64(t.tv_usec) * 1000; }

// CPU clocks at one moment: the calling (main) thread, where the host runs,
// and the whole process, whose remainder is the kit's thread. The thread's
// split into user and kernel time comes from the tick-based accounting: good
// for shares over thousands of words, not for single words.
struct CpuSample {
    qint64 wall = 0;
    qint64 mainThread = 0;
    qint64 mainThreadKernel = 0;
    qint64 process = 0;

    static CpuSample now()
    {
        rusage usage {};
        ::getrusage(RUSAGE_THREAD, &usage);
        return {wallNs(), nowNs(CLOCK_THREAD_CPUTIME_ID), ns(usage.ru_stime), nowNs(CLOCK_PROCESS_CPUTIME_ID)};
    }
};

// ---- the image ----

// Word addresses of the kit's whole write window.
QVector<quint16> writeWindow()
{
    QVector<quint16> words;
    for (const WordRange &range : StandardKit.writeWindow) {
        for (quint32 w = range.first; w <= range.last; ++w)
            words.append(quint16(w));
    }
    return words;
}

QVector<quint16> firstWords(int count)
{
    QVector<quint16> words;
    for (int w = 0; w < count; ++w)
        words.append(quint16(w));
    return words;
}

// A value that differs from word to word and from its address, so that a
// mixed-up address or byte order shows in the kit's memory.
quint16 valueOf(quint16 wordAddress) { return quint16(wordAddress * 40503u + 0x5A17u); }

// The image as a compiler writes it, each word with its own value.
QByteArray hexFileText(const QVector<quint16> &words)
{
    QMap<quint16, quint16> image;
    for (const quint16 w : words)
        image.insert(w, valueOf(w));
    return HexWriter::words(image);
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &content)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        fail("cannot write " + path.toStdString());
    return path;
}

// The kit must hold exactly the image: every word, with its value, and nothing else.
void requireKitHolds(const KitSimulator &kit, const QVector<quint16> &words, const char *what)
{
    const QMap<quint16, quint16> memory = kit.memory();
    if (memory.size() != words.size())
        fail(std::string(what) + ": the kit holds " + std::to_string(memory.size()) + " words, expected "
             + std::to_string(words.size()));
    for (quint16 w : words) {
        if (!memory.contains(w) || memory.value(w) != valueOf(w))
            fail(std::string(what) + ": word " + QString::number(w, 16).toStdString() + " is wrong in the kit");
    }
}

// ---- figures ----

struct RunFigures {
    double wallUsPerWord = 0;     // from the first to the last answered word, per word
    double hostCpuUsPerWord = 0;  // main-thread CPU over the same span, per word
    double hostKernelShare = 0;   // the part of it spent in the kernel, 0..1
    double kitCpuUsPerWord = 0;   // the rest of the process (the kit's thread), per word
    double medianWordUs = 0;      // gaps between consecutive answered words, as the host sees them
    double p99WordUs = 0;
    double wholeUpdateMs = 0;     // kitupdater only: update() from call to return
};

// Figures from the wall time of every answered word and the CPU clocks at the
// first and the last of them.
RunFigures figuresOf(const QVector<qint64> &answeredAt, const CpuSample &first, const CpuSample &last)
{
    RunFigures f;
    const int spans = int(answeredAt.size()) - 1;
    if (spans < 1)
        fail("fewer than two words were answered");
    const double wall = double(last.wall - first.wall);
    const double mainCpu = double(last.mainThread - first.mainThread);
    const double processCpu = double(last.process - first.process);
    f.wallUsPerWord = wall / spans / 1000.0;
    f.hostCpuUsPerWord = mainCpu / spans / 1000.0;
    f.hostKernelShare = mainCpu > 0 ? double(last.mainThreadKernel - first.mainThreadKernel) / mainCpu : 0;
    f.kitCpuUsPerWord = (processCpu - mainCpu) / spans / 1000.0;
    QVector<double> gaps;
    gaps.reserve(spans);
    for (int i = 1; i < answeredAt.size(); ++i)
        gaps.append(double(answeredAt[i] - answeredAt[i - 1]) / 1000.0);
    f.medianWordUs = median(gaps);
    f.p99WordUs = percentile(gaps, 0.99);
    return f;
}

// The median over runs of each figure on its own.
RunFigures medianOfRuns(const QVector<RunFigures> &runs)
{
    const auto over = [&runs](double RunFigures::*field) {
        QVector<double> values;
        for (const RunFigures &run : runs)
            values.append(run.*field);
        return median(values);
    };
    RunFigures m;
    m.wallUsPerWord = over(&RunFigures::wallUsPerWord);
    m.hostCpuUsPerWord = over(&RunFigures::hostCpuUsPerWord);
    m.hostKernelShare = over(&RunFigures::hostKernelShare);
    m.kitCpuUsPerWord = over(&RunFigures::kitCpuUsPerWord);
    m.medianWordUs = over(&RunFigures::medianWordUs);
    m.p99WordUs = over(&RunFigures::p99WordUs);
    m.wholeUpdateMs = over(&RunFigures::wholeUpdateMs);
    return m;
}

void printRun(const char *label, int run, const RunFigures &f)
{
    std::printf("  %-12s run %d: %7.1f us/word wall, %5.1f us/word host CPU (%2.0f %% in the kernel),"
                " %5.1f us/word kit CPU; per word median %6.1f us, p99 %7.1f us\n",
                label, run, f.wallUsPerWord, f.hostCpuUsPerWord, 100.0 * f.hostKernelShare, f.kitCpuUsPerWord,
                f.medianWordUs, f.p99WordUs);
}

// Gaps between consecutive frames in the kit's log ("<us> A <address> <value>").
QVector<double> frameGapsFromLog(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail("cannot read the kit's log " + path.toStdString());
    QVector<double> gaps;
    qint64 previous = -1;
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().trimmed().split(' ');
        if (fields.size() != 4 || fields[1] != "A")
            continue;
        const qint64 us = fields[0].toLongLong();
        if (previous >= 0)
            gaps.append(double(us - previous));
        previous = us;
    }
    return gaps;
}

// ---- kitupdater ----

// Reports that show nothing and note when each word has been dealt with
// (a word's report follows its answer).
class TimingReports : public EndingReports {
public:
    explicit TimingReports(int expectedWords) : m_expectedWords(expectedWords) { answeredAt.reserve(expectedWords); }

    void failureDetail(const QString &reason) override { detail = reason; }
    void wordWritten(const WordProgress &) override
    {
        answeredAt.append(wallNs());
        // The CPU clocks are system calls: read them only at the ends of the span.
        if (answeredAt.size() == 1)
            first = CpuSample::now();
        if (answeredAt.size() == m_expectedWords)
            last = CpuSample::now();
    }
    void finished(const LinkResult &r) override
    {
        result = r;
        if (onFinished)
            onFinished();
    }

    QVector<qint64> answeredAt;
    CpuSample first;
    CpuSample last;
    LinkResult result;
    QString detail;
    std::function<void()> onFinished;

private:
    int m_expectedWords;
};

// The kit on its pseudo-terminal, the port and the exchanges.
class KitUpdaterLine {
public:
    explicit KitUpdaterLine(const KitSimConfig &config) : kit(config)
    {
        kit.start();
        port = std::make_unique<MSComm100>(std::make_unique<QtSerialLine>());
    }

    void start(TimingReports &reports, const QString &hexPath)
    {
        kit.clearRecord();
        link = std::make_unique<KitLink>(*port, StandardKit, reports);
        link->startUpdate({kit.slavePath(), QStringLiteral("57600,n,8,1")}, [hexPath] { return HexFile::read(hexPath); });
    }

    void check(const TimingReports &reports, const QVector<quint16> &words, const char *who)
    {
        if (reports.result.ending != LinkResult::Ending::Done)
            fail(std::string(who) + ": the update did not complete: " + reports.detail.toStdString());
        if (reports.answeredAt.size() != words.size())
            fail(std::string(who) + ": the update reported " + std::to_string(reports.answeredAt.size()) + " words");
        requireKitHolds(kit, words, who);
    }

    // One whole update of the file, checked against the kit's memory afterwards.
    RunFigures update(const QString &hexPath, const QVector<quint16> &words)
    {
        TimingReports reports(int(words.size()));
        QEventLoop loop;
        reports.onFinished = [&loop] { loop.quit(); };
        const qint64 start = wallNs();
        this->start(reports, hexPath);
        loop.exec();
        const qint64 end = wallNs();
        check(reports, words, "kitupdater");
        RunFigures f = figuresOf(reports.answeredAt, reports.first, reports.last);
        f.wholeUpdateMs = double(end - start) / 1e6;
        return f;
    }

    KitSimulator kit;
    std::unique_ptr<MSComm100> port;
    std::unique_ptr<KitLink> link;
};

// ---- raw termios ----

class RawLine {
public:
    explicit RawLine(const QString &path)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY);
        if (m_fd < 0)
            fail("cannot open " + path.toStdString() + ": " + std::strerror(errno));
        termios settings {};
        if (::tcgetattr(m_fd, &settings) != 0)
            fail(std::string("tcgetattr: ") + std::strerror(errno));
        ::cfmakeraw(&settings);
        if (::tcsetattr(m_fd, TCSANOW, &settings) != 0)
            fail(std::string("tcsetattr: ") + std::strerror(errno));
    }
    ~RawLine() { ::close(m_fd); }
    RawLine(const RawLine &) = delete;
    RawLine &operator=(const RawLine &) = delete;

    void writeFrame(quint16 w, quint16 value)
    {
        const KitProfile::Frame frame = StandardKit.frame(w, quint8(value >> 8), quint8(value & 0xFF));
        size_t done = 0;
        while (done < frame.size()) {
            const ssize_t n = ::write(m_fd, frame.data() + done, frame.size() - done);
            if (n < 0 && errno != EINTR)
                fail(std::string("write: ") + std::strerror(errno));
            if (n > 0)
                done += size_t(n);
        }
    }

    // Waits for at least one answer byte and takes all that wait.
    void readAnswer()
    {
        pollfd fd {m_fd, POLLIN, 0};
        for (;;) {
            const int ready = ::poll(&fd, 1, AnswerTimeoutMs);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                fail("raw termios: no answer within 2 s");
            char answer[64];
            const ssize_t n = ::read(m_fd, answer, sizeof answer);
            if (n > 0)
                return;
            if (n < 0 && errno != EINTR && errno != EAGAIN)
                fail(std::string("read: ") + std::strerror(errno));
        }
    }

private:
    int m_fd = -1;
};

RunFigures rawTransfer(KitSimulator &kit, const QVector<quint16> &words)
{
    kit.clearRecord();
    RawLine line(kit.slavePath());
    QVector<qint64> answeredAt;
    answeredAt.reserve(words.size());
    CpuSample first;
    for (quint16 w : words) {
        line.writeFrame(w, valueOf(w));
        line.readAnswer();
        answeredAt.append(wallNs());
        if (answeredAt.size() == 1)
            first = CpuSample::now();
    }
    const CpuSample last = CpuSample::now();
    requireKitHolds(kit, words, "raw termios");
    return figuresOf(answeredAt, first, last);
}

// ---- the report ----

struct Options {
    int runs = 5;
    // "kitupdater" or "raw": only that side's instant-kit runs; "slow": only
    // the slow kit. For a profiler or strace. Empty: everything.
    QString only;
};

[[noreturn]] void usage()
{
    fail("usage: bench_transfer [--runs N] [--only kitupdater|raw|slow|several]");
}

Options optionsFromArguments(QStringList arguments)
{
    const QStringList sides = {QString(), QStringLiteral("kitupdater"), QStringLiteral("raw"),
                               QStringLiteral("slow"), QStringLiteral("several")};
    Options options;
    arguments.removeFirst();
    while (!arguments.isEmpty()) {
        const QString name = arguments.takeFirst();
        if (arguments.isEmpty())
            usage();
        const QString value = arguments.takeFirst();
        bool ok = true;
        if (name == QLatin1String("--runs"))
            options.runs = value.toInt(&ok);
        else if (name == QLatin1String("--only"))
            options.only = value;
        else
            usage();
        if (!ok || options.runs < 1 || !sides.contains(options.only))
            usage();
    }
    return options;
}

void printGaps(const char *label, const QVector<double> &gaps)
{
    std::printf("  %-12s frame to frame at the kit (one extra run, kit log on): median %.1f us, p99 %.1f us,"
                " %d gaps\n",
                label, median(gaps), percentile(gaps, 0.99), int(gaps.size()));
}

// One more run of each with the kit's frame log on: the kit's own view of the
// gaps between frames. The log costs the kit a write() per frame, so these
// runs are kept out of the figures above.
void measureGapsAtTheKit(const QTemporaryDir &dir, KitUpdaterLine &updater, KitSimulator &rawKit,
                         const QString &hexPath, const QVector<quint16> &words)
{
    const QString updaterLog = dir.filePath(QStringLiteral("kitupdater.log"));
    updater.kit.setLogFile(updaterLog);
    updater.update(hexPath, words);
    updater.kit.setLogFile(QString());
    printGaps("kitupdater", frameGapsFromLog(updaterLog));

    const QString rawLog = dir.filePath(QStringLiteral("raw.log"));
    rawKit.setLogFile(rawLog);
    rawTransfer(rawKit, words);
    rawKit.setLogFile(QString());
    printGaps("raw termios", frameGapsFromLog(rawLog));
}

struct InstantResult {
    RunFigures updater;
    RunFigures raw;
};

InstantResult benchInstantKit(const QTemporaryDir &dir, const Options &options)
{
    const QVector<quint16> words = writeWindow();
    const QString hexPath = writeFile(dir, QStringLiteral("full.hex"), hexFileText(words));
    std::printf("Instant kit (answers at once), %d words (the whole write window), %d runs each, alternating:\n",
                int(words.size()), options.runs);

    const bool withUpdater = options.only != QLatin1String("raw");
    const bool withRaw = options.only != QLatin1String("kitupdater");
    KitUpdaterLine updater(KitSimConfig {});
    KitSimulator rawKit;
    rawKit.start();
    QVector<RunFigures> updaterRuns;
    QVector<RunFigures> rawRuns;
    for (int run = 1; run <= options.runs; ++run) {
        if (withUpdater) {
            updaterRuns.append(updater.update(hexPath, words));
            printRun("kitupdater", run, updaterRuns.last());
        }
        if (withRaw) {
            rawRuns.append(rawTransfer(rawKit, words));
            printRun("raw termios", run, rawRuns.last());
        }
    }
    if (!options.only.isEmpty())
        return {};
    const InstantResult result {medianOfRuns(updaterRuns), medianOfRuns(rawRuns)};
    std::printf("  kitupdater whole update() incl. version handshake (100 ms pause) and file check: %.0f ms (median)\n",
                result.updater.wholeUpdateMs);
    measureGapsAtTheKit(dir, updater, rawKit, hexPath, words);
    return result;
}

struct SlowResult {
    RunFigures updater;
    RunFigures raw;
};

double percentOfCore(const RunFigures &f) { return 100.0 * f.hostCpuUsPerWord / f.wallUsPerWord; }

SlowResult benchSlowKit(const QTemporaryDir &dir, int runs)
{
    const QVector<quint16> words = firstWords(SlowKitWords);
    const QString hexPath = writeFile(dir, QStringLiteral("slow.hex"), hexFileText(words));
    std::printf("Slow kit (answers each frame after %d us), %d words, %d runs each, alternating:\n", SlowKitDelayUs,
                int(words.size()), runs);
    KitSimConfig config;
    config.frameDelayUs = SlowKitDelayUs;
    KitUpdaterLine updater(config);
    KitSimulator rawKit(config);
    rawKit.start();
    QVector<RunFigures> updaterRuns;
    QVector<RunFigures> rawRuns;
    for (int run = 1; run <= runs; ++run) {
        updaterRuns.append(updater.update(hexPath, words));
        printRun("kitupdater", run, updaterRuns.last());
        rawRuns.append(rawTransfer(rawKit, words));
        printRun("raw termios", run, rawRuns.last());
    }
    return {medianOfRuns(updaterRuns), medianOfRuns(rawRuns)};
}

struct SeveralResult {
    double oneKitMs = 0;
    double severalKitsMs = 0;
    double hostPercentOfCore = 0;
};

constexpr int SeveralKits = 8;

// One slow kit, then eight at once on the same thread: the whole updates from
// start to the last ending, and the main thread's CPU over the eight.
SeveralResult benchSeveralKits(const QTemporaryDir &dir, int runs)
{
    const QVector<quint16> words = firstWords(SlowKitWords);
    const QString hexPath = writeFile(dir, QStringLiteral("several.hex"), hexFileText(words));
    std::printf("Several kits: %d words each, kits answering after %d us, one kit alone then %d at once in one "
                "thread, %d runs:\n",
                int(words.size()), SlowKitDelayUs, SeveralKits, runs);
    KitSimConfig config;
    config.frameDelayUs = SlowKitDelayUs;
    std::vector<std::unique_ptr<KitUpdaterLine>> lines;
    for (int i = 0; i < SeveralKits; ++i)
        lines.push_back(std::make_unique<KitUpdaterLine>(config));
    QVector<double> oneKit, several, percent;
    for (int run = 1; run <= runs; ++run) {
        oneKit.append(lines.front()->update(hexPath, words).wholeUpdateMs);

        std::vector<std::unique_ptr<TimingReports>> reports;
        QEventLoop loop;
        int running = SeveralKits;
        const CpuSample before = CpuSample::now();
        for (auto &line : lines) {
            reports.push_back(std::make_unique<TimingReports>(int(words.size())));
            reports.back()->onFinished = [&] {
                if (--running == 0)
                    loop.quit();
            };
            line->start(*reports.back(), hexPath);
        }
        loop.exec();
        const CpuSample after = CpuSample::now();
        for (int i = 0; i < SeveralKits; ++i)
            lines[size_t(i)]->check(*reports[size_t(i)], words, "several kits");
        several.append(double(after.wall - before.wall) / 1e6);
        percent.append(100.0 * double(after.mainThread - before.mainThread) / double(after.wall - before.wall));
        std::printf("  run %d: one kit %6.0f ms, %d kits at once %6.0f ms (%.2fx), host thread %4.1f %% of a core\n",
                    run, oneKit.last(), SeveralKits, several.last(), several.last() / oneKit.last(), percent.last());
    }
    return {median(oneKit), median(several), median(percent)};
}

void printSummary(int words, const InstantResult &instant, const SlowResult &slow)
{
    std::printf("\nSummary (medians over the runs; per word = from the first to the last answered word, divided"
                " by the words between;\n"
                "host CPU = CPU time of the main thread, where the host runs; kit CPU = the rest of the process):\n");
    std::printf("transfer of %d words, instant kit:   kitupdater %6.1f us/word wall (median word %5.1f us),"
                " %5.1f us/word host CPU | raw termios %5.1f us/word wall (median word %5.1f us), %5.1f us/word CPU\n",
                words, instant.updater.wallUsPerWord, instant.updater.medianWordUs, instant.updater.hostCpuUsPerWord,
                instant.raw.wallUsPerWord, instant.raw.medianWordUs, instant.raw.hostCpuUsPerWord);
    std::printf("slow kit (1 ms/word), %d words:      kitupdater %6.0f us/word wall, %5.1f %% of a core"
                " | raw termios %5.0f us/word wall, %5.1f %% of a core\n",
                SlowKitWords, slow.updater.wallUsPerWord, percentOfCore(slow.updater), slow.raw.wallUsPerWord,
                percentOfCore(slow.raw));
    const bool instantMet = instant.updater.wallUsPerWord < 100.0;
    const bool slowMet = percentOfCore(slow.updater) < 5.0;
    std::printf("aims: < 100 us per word (instant kit): %s;  < 5 %% of a core (1 ms kit): %s\n",
                instantMet ? "met" : "MISSED", slowMet ? "met" : "MISSED");
}

} // namespace

void printSeveralSummary(const SeveralResult &several)
{
    const double ratio = several.severalKitsMs / several.oneKitMs;
    std::printf("%d kits at once (1 ms/word, %d words each): %.0f ms against %.0f ms for one kit (%.2fx),"
                " host thread %.1f %% of a core\n",
                SeveralKits, SlowKitWords, several.severalKitsMs, several.oneKitMs, ratio, several.hostPercentOfCore);
    std::printf("aims: within 1.2x of one kit: %s;  host CPU < 10 %% of a core: %s\n", ratio <= 1.2 ? "met" : "MISSED",
                several.hostPercentOfCore < 10.0 ? "met" : "MISSED");
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const Options options = optionsFromArguments(app.arguments());
    QTemporaryDir dir;
    if (!dir.isValid())
        fail("cannot create a temporary folder");
    if (options.only == QLatin1String("slow")) {
        benchSlowKit(dir, options.runs);
        return 0;
    }
    if (options.only == QLatin1String("several")) {
        printSeveralSummary(benchSeveralKits(dir, options.runs));
        return 0;
    }
    const InstantResult instant = benchInstantKit(dir, options);
    if (!options.only.isEmpty())
        return 0;
    std::printf("\n");
    const SlowResult slow = benchSlowKit(dir, options.runs);
    std::printf("\n");
    const SeveralResult several = benchSeveralKits(dir, options.runs);
    printSummary(int(writeWindow().size()), instant, slow);
    printSeveralSummary(several);
    return 0;
}
