// Fault soak: a few hundred whole updates against the simulated kit on a real
// pseudo-terminal, each with a small random HEX file and faults drawn from a
// seeded generator: late answers (a few real ones just under and just over the
// 2 s limit, the rest scaled to milliseconds), silence, several answer bytes,
// stray bytes before an answer, hang-ups and close requests. One link, one
// port and one kit serve all runs, so state left over by a run meets the next.
//
// After every run the checks hold whatever went wrong: one ending only, the
// frames in file order with each word at most once, a prefix of the words the
// file sends, the kit's memory holding exactly those words, and a run time
// that its faults explain. Where the faults decide the ending on their own,
// that ending is checked too.
//
// KITUPDATER_SOAK_RUNS and KITUPDATER_SOAK_SEED change the number of runs and
// the seed; a failure names both and the run, so that it can be replayed.

#include "DeviceTestSupport.h"
#include "ExpectedTexts.h"
#include "KitSimulator.h"
#include "QtSerialLine.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <numeric>
#include <random>
#include <string>
#include <thread>

using namespace Expected;

namespace {

const QStringList Speeds = {QStringLiteral(" 9600"), QStringLiteral("19200"), QStringLiteral("57600")};

const QRegularExpression DoneStatus(QStringLiteral("^アップデート完了。  ([0-9]+)sec$"));
const QString KitVersion = QStringLiteral("KIT-FW Ver1.00  ");

constexpr int AnswerLimitUs = 2000000;
constexpr int OverLimitUs = 2100000;
constexpr int UnderLimitUs = 1900000;
// A run without a real long wait ends well within this (handshake 0.1 s,
// a few dozen words of at most a few milliseconds each), even on a busy machine.
constexpr qint64 QuickRunBoundMs = 3000;
constexpr qint64 LongWaitBoundMs = 2500;
constexpr int SettleMs = 3000;
// Past its bound a run has failed; this much later it is taken for hung.
constexpr qint64 HangMarginMs = 10000;

// ---- random numbers ----

int uniform(std::mt19937 &rng, int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(rng);
}

bool chance(std::mt19937 &rng, double probability)
{
    return std::bernoulli_distribution(probability)(rng);
}

QByteArray randomBytes(std::mt19937 &rng, int count)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes.append(char(uniform(rng, 0, 255)));
    return bytes;
}

// ---- the HEX file of a run ----

struct FileWord {
    quint16 address;
    quint16 value;
    bool sent;   // in the write window and under no extended base
};

struct SoakFile {
    QByteArray text;
    QVector<FileWord> words;   // every data word, in file order

    QVector<FileWord> sentWords() const
    {
        QVector<FileWord> sent;
        std::copy_if(words.begin(), words.end(), std::back_inserter(sent), [](const FileWord &w) { return w.sent; });
        return sent;
    }
};

// Written out here rather than taken from the reader: 0x0000-0x1EFF and 0x1FE0-0x1FFE.
bool inWriteWindow(int w)
{
    return w <= 0x1EFF || (w >= 0x1FE0 && w <= 0x1FFE);
}

// First word of a record: mostly in the window, often at its edges, sometimes beyond.
int randomRecordStart(std::mt19937 &rng)
{
    switch (uniform(rng, 0, 9)) {
    case 0:
    case 1:
        return uniform(rng, 0x1EF8, 0x1F08);
    case 2:
    case 3:
        return uniform(rng, 0x1FD8, 0x2004);
    case 4:
        return uniform(rng, 0x2005, 0x7FF0);
    default:
        return uniform(rng, 0x0000, 0x1EF0);
    }
}

// A run of distinct word addresses that no earlier record used; empty when it collides.
QVector<int> freshAddresses(int first, int count, QSet<int> &used)
{
    QVector<int> addresses;
    for (int w = first; w < first + count; ++w) {
        if (w > 0x7FFF || used.contains(w))
            return {};
        addresses.append(w);
    }
    for (int w : addresses)
        used.insert(w);
    return addresses;
}

QByteArray dataRecord(const QVector<int> &addresses, const QVector<quint16> &values)
{
    QByteArray data;
    for (quint16 value : values) {
        data.append(char(value & 0xFF));   // low byte first in the file
        data.append(char(value >> 8));
    }
    return HexWriter::record(quint16(addresses.first() * 2), 0x00, data);
}

QByteArray linearBase(quint16 base)
{
    QByteArray data;
    data.append(char(base >> 8));
    data.append(char(base & 0xFF));
    return HexWriter::record(0, 0x04, data);
}

// A few dozen words in records of one to eight words, in random order, with
// now and then a stretch under a non-zero extended linear base (not sent) and
// records after the end-of-file record (still read).
SoakFile randomHexFile(std::mt19937 &rng)
{
    SoakFile file;
    QVector<QByteArray> lines;
    QSet<int> used;
    const int wanted = uniform(rng, 8, 48);
    bool underBase = false;
    while (file.words.size() < wanted) {
        if (chance(rng, 0.08)) {
            underBase = !underBase;
            lines.append(linearBase(underBase ? quint16(uniform(rng, 1, 0xFFFF)) : 0));
        }
        const QVector<int> addresses = freshAddresses(randomRecordStart(rng), uniform(rng, 1, 8), used);
        if (addresses.isEmpty())
            continue;
        QVector<quint16> values;
        for (int w : addresses) {
            values.append(quint16(uniform(rng, 0, 0xFFFF)));
            file.words.append({quint16(w), values.last(), !underBase && inWriteWindow(w)});
        }
        lines.append(dataRecord(addresses, values));
    }
    const int endOfFileAt = chance(rng, 0.1) ? uniform(rng, 0, int(lines.size())) : int(lines.size());
    lines.insert(endOfFileAt, QByteArray(":00000001FF"));
    const QByteArray lineEnd = chance(rng, 0.5) ? QByteArray("\r\n") : QByteArray("\n");
    for (const QByteArray &line : lines)
        file.text += line + lineEnd;
    return file;
}

// ---- the faults of a run ----

// The runs that wait for real: answers just over or just under the limit on
// one frame, or a kit that falls silent with nobody closing the window.
enum class RealWait { None, OverLimit, UnderLimit, Silence };

struct FaultPlan {
    RealWait realWait = RealWait::None;
    QByteArray answer = QByteArray(1, '\x06');
    QByteArray stray;          // written by the kit before each answer
    QByteArray answerToF;
    int scaledDelayUs = 0;     // before every answer
    int slowFrame = 0;         // 1-based; 0: none
    int slowDelayUs = 0;
    int silentAfter = -1;
    int hangUpAfter = -1;
    int closeAfter = 0;        // close request right after this frame is sent; 0: none
    QString speed;

    // Late bytes may be taken as the answer to a later frame: the host can run
    // ahead of the kit, and the ending is no longer decided by the faults alone.
    bool runsAhead() const { return answer.size() > 1 || !stray.isEmpty(); }

    KitSimConfig kitConfig() const
    {
        KitSimConfig config;
        config.answerToF = answerToF.toStdString();
        config.frameAnswer = answer.toStdString();
        config.strayBeforeAnswer = stray.toStdString();
        config.frameDelayUs = scaledDelayUs;
        config.silentAfterFrames = silentAfter;
        config.hangUpAfterFrames = hangUpAfter;
        return config;
    }

    // The kinds of fault in this plan, for the closing tally.
    QStringList kinds() const
    {
        QStringList names;
        if (scaledDelayUs)
            names << QStringLiteral("late answers (scaled)");
        if (slowDelayUs > AnswerLimitUs)
            names << QStringLiteral("an answer after 2.1 s");
        else if (slowDelayUs)
            names << QStringLiteral("an answer after 1.9 s");
        if (silentAfter >= 0)
            names << QStringLiteral("silence");
        if (answer.size() > 1)
            names << QStringLiteral("several answer bytes");
        if (!stray.isEmpty())
            names << QStringLiteral("stray bytes");
        if (hangUpAfter >= 0)
            names << QStringLiteral("hang-up");
        if (closeAfter)
            names << QStringLiteral("close request");
        return names;
    }

    QString describe() const
    {
        QStringList parts;
        parts << QStringLiteral("answer %1").arg(QString::fromLatin1(answer.toHex(' ')));
        if (!stray.isEmpty())
            parts << QStringLiteral("stray %1").arg(QString::fromLatin1(stray.toHex(' ')));
        if (scaledDelayUs)
            parts << QStringLiteral("delay %1 us").arg(scaledDelayUs);
        if (slowFrame)
            parts << QStringLiteral("frame %1 answered after %2 us").arg(slowFrame).arg(slowDelayUs);
        if (silentAfter >= 0)
            parts << QStringLiteral("silent after %1").arg(silentAfter);
        if (hangUpAfter >= 0)
            parts << QStringLiteral("hang-up on frame %1").arg(hangUpAfter);
        if (closeAfter)
            parts << QStringLiteral("close after frame %1").arg(closeAfter);
        return parts.join(QStringLiteral(", "));
    }
};

// How long a run with these faults may take: a quick run plus one real wait
// for each answer just under or over the limit and for a silence nobody ends.
qint64 timeBound(const FaultPlan &plan)
{
    const int longWaits = (plan.slowFrame ? 1 : 0) + (plan.realWait == RealWait::Silence ? 1 : 0);
    return QuickRunBoundMs + longWaits * LongWaitBoundMs;
}

void addCheapFaults(std::mt19937 &rng, int sentCount, FaultPlan &plan)
{
    if (chance(rng, 0.25))
        plan.answer = randomBytes(rng, uniform(rng, 2, 4));
    if (chance(rng, 0.25))
        plan.stray = randomBytes(rng, uniform(rng, 1, 3));
    if (chance(rng, 0.2))
        plan.hangUpAfter = uniform(rng, 1, sentCount + 2);
    if (chance(rng, 0.25)) {
        plan.closeAfter = uniform(rng, 1, sentCount + 1);
        // Silence on or after the frame that the close request follows: the
        // request ends the otherwise endless wait, so no real time-out is spent.
        if (chance(rng, 0.4))
            plan.silentAfter = plan.closeAfter - 1 + uniform(rng, 0, 2);
    }
}

FaultPlan randomFaults(std::mt19937 &rng, RealWait realWait, int sentCount)
{
    FaultPlan plan;
    plan.realWait = realWait;
    plan.speed = Speeds.at(uniform(rng, 0, int(Speeds.size()) - 1));
    plan.answer = randomBytes(rng, 1);
    if (chance(rng, 0.3))
        plan.answerToF = randomBytes(rng, uniform(rng, 1, 3));
    if (chance(rng, 0.4))
        plan.scaledDelayUs = uniform(rng, 100, 3000);
    switch (realWait) {
    case RealWait::None:
        addCheapFaults(rng, sentCount, plan);
        break;
    case RealWait::OverLimit:
    case RealWait::UnderLimit:
        plan.slowFrame = uniform(rng, 1, sentCount);
        plan.slowDelayUs = realWait == RealWait::OverLimit ? OverLimitUs : UnderLimitUs;
        if (realWait == RealWait::UnderLimit && chance(rng, 0.5))
            plan.hangUpAfter = uniform(rng, plan.slowFrame, sentCount + 1);
        break;
    case RealWait::Silence:
        plan.silentAfter = uniform(rng, 0, sentCount - 1);
        break;
    }
    return plan;
}

// Which runs wait for real: a handful of each kind, at random places.
QVector<RealWait> realWaitsFor(std::mt19937 &rng, int runs)
{
    QVector<RealWait> waits(runs, RealWait::None);
    QVector<int> order(runs);
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), rng);
    const int over = std::min(5, (runs + 59) / 60);
    const int under = std::min(3, (runs + 99) / 100);
    const int silent = std::min(6, (runs + 49) / 50);
    int next = 0;
    for (int i = 0; i < over && next < runs; ++i)
        waits[order[next++]] = RealWait::OverLimit;
    for (int i = 0; i < under && next < runs; ++i)
        waits[order[next++]] = RealWait::UnderLimit;
    for (int i = 0; i < silent && next < runs; ++i)
        waits[order[next++]] = RealWait::Silence;
    return waits;
}

// ---- the endings ----

enum class Ending { Completion, TimeOut, Failure, Handshake };

QString endingName(Ending ending)
{
    switch (ending) {
    case Ending::Completion:
        return QStringLiteral("completion");
    case Ending::TimeOut:
        return QStringLiteral("time-out ending");
    case Ending::Failure:
        return QStringLiteral("failure ending");
    case Ending::Handshake:
        return QStringLiteral("handshake ending");
    }
    return QString();
}

// What the faults alone make of a run whose host cannot run ahead: the first
// frame (in sending order) at which a fault strikes decides. At one frame a
// hang-up comes before a close request, and both before a missing answer.
QSet<Ending> decidedEndings(const FaultPlan &plan, const SoakFile &file)
{
    const int sentCount = int(file.sentWords().size());
    struct Strike {
        int frame;
        int rank;
        Ending ending;
    };
    QVector<Strike> strikes;
    const auto strikesAt = [&](int frame, int rank, Ending ending) {
        if (frame >= 1 && frame <= sentCount)
            strikes.append({frame, rank, ending});
    };
    strikesAt(plan.hangUpAfter, 0, Ending::Failure);
    strikesAt(plan.closeAfter, 1, Ending::Failure);
    if (plan.silentAfter >= 0)
        strikesAt(plan.silentAfter + 1, 2, Ending::TimeOut);
    if (plan.slowDelayUs > AnswerLimitUs)
        strikesAt(plan.slowFrame, 2, Ending::TimeOut);
    if (strikes.isEmpty())
        return {Ending::Completion};
    const Strike first = *std::min_element(strikes.begin(), strikes.end(), [](const Strike &a, const Strike &b) {
        return std::make_pair(a.frame, a.rank) < std::make_pair(b.frame, b.rank);
    });
    // A close request after the file's last word, answered at once, may come
    // when nothing is left to stop.
    const bool lastWordOfFile = file.words.last().address == file.sentWords().at(first.frame - 1).address;
    const bool waitsLong = first.frame == plan.slowFrame || first.frame == plan.silentAfter + 1;
    if (first.rank == 1 && lastWordOfFile && !waitsLong)
        return {Ending::Failure, Ending::Completion};
    return {first.ending};
}

// ---- the line under the serial-port component ----

// Passes everything to the real line; keeps the frames handed to it and lets
// the run act just before and just after each frame.
class TappedLine final : public SerialLine {
public:
    TappedLine() : m_line(std::make_unique<QtSerialLine>())
    {
        connect(m_line.get(), &SerialLine::bytesArrived, this, &SerialLine::bytesArrived);
        connect(m_line.get(), &SerialLine::failed, this, &SerialLine::failed);
    }

    QVector<KitFrame> frames;
    // Takes during the transfer whose size differs from what the kit writes
    // per frame: answer bytes that went to another frame than their own.
    int bytesPerAnswer = 0;
    int unevenTakes = 0;
    std::function<void(int frameNumber)> beforeFrame;
    std::function<void(int frameNumber)> afterFrame;

    void open(const QString &devicePath, const LineSettings &settings) override { m_line->open(devicePath, settings); }
    void close() override { m_line->close(); }
    bool isOpen() const override { return m_line->isOpen(); }
    void configure(const LineSettings &settings) override { m_line->configure(settings); }
    qint64 bytesAvailable() const override { return m_line->bytesAvailable(); }
    void discardInput() override { m_line->discardInput(); }
    QByteArray read(qint64 maxBytes) override
    {
        const QByteArray taken = m_line->read(maxBytes);
        if (!frames.isEmpty() && taken.size() != bytesPerAnswer)
            ++unevenTakes;
        return taken;
    }

    void write(const QByteArray &bytes) override
    {
        const bool isFrame = bytes.size() == 5 && bytes.at(0) == '\x41';
        const int number = int(frames.size()) + 1;
        if (isFrame && beforeFrame)
            beforeFrame(number);
        m_line->write(bytes);
        if (!isFrame)
            return;
        frames.append({quint16(quint8(bytes[1]) << 8 | quint8(bytes[2])), quint16(quint8(bytes[3]) << 8 | quint8(bytes[4]))});
        if (afterFrame)
            afterFrame(number);
    }

private:
    std::unique_ptr<QtSerialLine> m_line;
};

// ---- checks; each returns what is wrong, empty when all is well ----

QString framesText(const QVector<KitFrame> &frames)
{
    QStringList texts;
    for (const KitFrame &f : frames)
        texts << QStringLiteral("%1:%2").arg(f.address, 4, 16, QLatin1Char('0')).arg(f.value, 4, 16, QLatin1Char('0'));
    return QLatin1Char('[') + texts.join(QLatin1Char(' ')) + QLatin1Char(']');
}

QString wordsText(const QVector<FileWord> &words)
{
    QVector<KitFrame> frames;
    for (const FileWord &w : words)
        frames.append({w.address, w.value});
    return framesText(frames);
}

QString checkPrefixOfFile(const QVector<KitFrame> &frames, const QVector<FileWord> &sent, const QString &whose)
{
    bool prefix = frames.size() <= sent.size();
    for (int i = 0; prefix && i < frames.size(); ++i)
        prefix = frames[i].address == sent[i].address && frames[i].value == sent[i].value;
    if (!prefix)
        return QStringLiteral("%1 frames %2 are no prefix of the words to send %3")
            .arg(whose, framesText(frames), wordsText(sent));
    QSet<quint16> seen;
    for (const KitFrame &f : frames) {
        if (seen.contains(f.address))
            return QStringLiteral("%1 frames send word %2 twice").arg(whose).arg(f.address, 4, 16);
        seen.insert(f.address);
    }
    return QString();
}

QString checkKitRecord(const KitSimulator &kit, const QVector<KitFrame> &hostFrames, const QVector<FileWord> &sent,
                       bool kitHungUp)
{
    const QVector<KitFrame> kitFrames = kit.frames();
    if (QString problem = checkPrefixOfFile(kitFrames, sent, QStringLiteral("kit's")); !problem.isEmpty())
        return problem;
    // After a hang-up the kit reads nothing more; otherwise it got every frame.
    const bool complete = kitFrames.size() == hostFrames.size();
    if (!complete && !(kitHungUp && kitFrames.size() < hostFrames.size()))
        return QStringLiteral("the host sent %1 frames, the kit received %2").arg(hostFrames.size()).arg(kitFrames.size());
    QMap<quint16, quint16> expectedMemory;
    for (int i = 0; i < kitFrames.size(); ++i)
        expectedMemory.insert(sent[i].address, sent[i].value);
    if (kit.memory() != expectedMemory)
        return QStringLiteral("the kit's memory holds %1 words, not exactly the %2 words sent")
            .arg(kit.memory().size())
            .arg(expectedMemory.size());
    return QString();
}

QString checkHandshakeEnding(const RecordingReports &host, const QVector<KitFrame> &hostFrames)
{
    if (!hostFrames.isEmpty() || !host.words.isEmpty())
        return QStringLiteral("the handshake failed, yet %1 frames went out").arg(hostFrames.size());
    if (host.statuses.size() < 2 || host.statuses.first() != QString())
        return QStringLiteral("statuses of a failed handshake: %1").arg(host.statuses.join(QStringLiteral(" | ")));
    for (const QString &message : host.messages) {
        if (message != VersionTimeoutMessage)
            return QStringLiteral("message box after a failed handshake: %1").arg(message);
    }
    return QString();
}

// Tells the ending from the status line and the message boxes; none of the
// three (or two of them at once) is an error.
QString classify(const RecordingReports &host, Ending &ending)
{
    if (host.statuses.isEmpty())
        return QStringLiteral("no status at all");
    const QString last = host.statuses.last();
    if (last == CommunicationErrorStatus) {
        ending = Ending::Handshake;
        return QString();
    }
    const QStringList expectedStart = {QString(), VersionReadStatus, UpdatingStatus};
    if (host.statuses.size() != 4 || host.statuses.mid(0, 3) != expectedStart)
        return QStringLiteral("statuses: %1").arg(host.statuses.join(QStringLiteral(" | ")));
    if (DoneStatus.match(last).hasMatch() && host.messages == QStringList{DoneMessage})
        ending = Ending::Completion;
    else if (last == FailedStatus && host.messages == QStringList{TimeoutMessage})
        ending = Ending::TimeOut;
    else if (last == FailedStatus && host.messages.isEmpty())
        ending = Ending::Failure;
    else
        return QStringLiteral("no single ending: status \"%1\", %2 message boxes: %3")
            .arg(last)
            .arg(host.messages.size())
            .arg(host.messages.join(QStringLiteral(" | ")));
    if (host.versions != QStringList{KitVersion})
        return QStringLiteral("version shown: %1").arg(host.versions.join(QStringLiteral(" | ")));
    return QString();
}

// The word reports follow the file's words in order; the time-out ending
// alone resets the progress. The word whose answer was awaited when the run
// ended has no report yet.
QString checkProgress(const RecordingReports &host, Ending ending, const SoakFile &file, int framesSent)
{
    const QVector<WordProgress> &calls = host.words;
    if ((ending == Ending::TimeOut) != (host.events.value(host.events.size() - 1) == QLatin1String("reset")))
        return QStringLiteral("the progress was reset at the end: %1").arg(host.events.value(host.events.size() - 1));
    if (calls.size() > file.words.size())
        return QStringLiteral("%1 word reports for %2 words").arg(calls.size()).arg(file.words.size());
    int sentBefore = 0;
    for (int i = 0; i < calls.size(); ++i) {
        sentBefore += file.words[i].sent ? 1 : 0;
        if (calls[i].address != file.words[i].address || calls[i].sent != sentBefore)
            return QStringLiteral("word report %1 is (0x%2, %3 sent), word 0x%4 with %5 sent expected")
                .arg(i)
                .arg(calls[i].address, 0, 16)
                .arg(calls[i].sent)
                .arg(file.words[i].address, 0, 16)
                .arg(sentBefore);
    }
    const bool awaited = sentBefore == framesSent - 1 && calls.size() < file.words.size() && file.words[calls.size()].sent;
    const bool allAnswered = sentBefore == framesSent;
    if (!awaited && !allAnswered)
        return QStringLiteral("%1 frames sent, but %2 sent words reported to the progress bar").arg(framesSent).arg(sentBefore);
    if (ending == Ending::Completion && calls.size() != file.words.size())
        return QStringLiteral("completion after %1 of %2 words").arg(calls.size()).arg(file.words.size());
    if (ending == Ending::TimeOut && !awaited)
        return QStringLiteral("time-out ending without a frame awaiting its answer");
    return QString();
}

QString checkCompletionSeconds(const RecordingReports &host, qint64 runMs, const FaultPlan &plan)
{
    const int seconds = DoneStatus.match(host.statuses.last()).captured(1).toInt();
    const int atLeast = plan.slowFrame ? plan.slowDelayUs / 1000000 : 0;
    if (seconds > runMs / 1000 || seconds < atLeast)
        return QStringLiteral("completion shows %1 s after a run of %2 ms").arg(seconds).arg(runMs);
    return QString();
}

// Ends the test with the seed and run number when a run does not come back at
// all: the time check after a run cannot catch a link that never returns.
class Watchdog {
public:
    Watchdog() : m_thread([this] { watch(); }) {}
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_quit = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;

    void arm(std::chrono::milliseconds limit, const QString &what)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_deadline = std::chrono::steady_clock::now() + limit;
            m_what = what.toStdString();
            m_armed = true;
        }
        m_changed.notify_all();
    }

    void disarm()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_armed = false;
        }
        m_changed.notify_all();
    }

private:
    void watch()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_quit) {
            if (!m_armed)
                m_changed.wait(lock);
            else if (m_changed.wait_until(lock, m_deadline) == std::cv_status::timeout && m_armed)
                qFatal("soak: %s has hung: no ending within its time limit", m_what.c_str());
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::chrono::steady_clock::time_point m_deadline;
    std::string m_what;
    bool m_armed = false;
    bool m_quit = false;
    std::thread m_thread;   // last: starts once the members above exist
};

void waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < timeoutMs)
        QThread::msleep(1);
}

int environmentNumber(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

} // namespace

class TestSoak : public QObject {
    Q_OBJECT

private slots:
    void updatesUnderFaults();

private:
    struct Run {
        int number = 0;
        FaultPlan plan;
        SoakFile file;
        QString fileName;
        qint64 elapsedMs = 0;
        bool kitHungUp = false;
        Ending ending = Ending::Failure;
    };

    void prepareKit(const FaultPlan &plan);
    void armFaults(const Run &run, QObject &scope);
    void performRun(Run &run);
    void settleAfter(Run &run);
    QString checkRun(Run &run);
    QString checkTransferEnding(const Run &run);
    QString context(const Run &run) const;

    QString writeFile(const QString &name, const QByteArray &content);

    int m_seed = 0;
    int m_runs = 0;
    Watchdog m_watchdog;
    QTemporaryDir m_dir;
    KitSimulator m_kit;
    TappedLine *m_tap = nullptr;
    std::unique_ptr<MSComm100> m_port;
    std::unique_ptr<RecordingReports> m_reports;
    std::unique_ptr<KitLink> m_link;
};

QString TestSoak::writeFile(const QString &name, const QByteArray &content)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestSoak::updatesUnderFaults()
{
    m_runs = environmentNumber("KITUPDATER_SOAK_RUNS", 300);
    m_seed = environmentNumber("KITUPDATER_SOAK_SEED", 20240611);
    qInfo("soak: %d runs, seed %d (KITUPDATER_SOAK_RUNS, KITUPDATER_SOAK_SEED)", m_runs, m_seed);
    std::mt19937 rng(static_cast<std::mt19937::result_type>(m_seed));
    auto tap = std::make_unique<TappedLine>();
    m_tap = tap.get();
    m_port = std::make_unique<MSComm100>(std::move(tap));
    m_reports = std::make_unique<RecordingReports>();
    m_link = std::make_unique<KitLink>(*m_port, StandardKit, *m_reports);
    const QVector<RealWait> realWaits = realWaitsFor(rng, m_runs);
    QMap<Ending, int> counts;
    QMap<QString, int> faultCounts;
    int runsWithUnevenTakes = 0;
    QElapsedTimer total;
    total.start();

    for (int number = 1; number <= m_runs; ++number) {
        Run run;
        run.number = number;
        const RealWait realWait = realWaits[number - 1];
        do
            run.file = randomHexFile(rng);
        while (realWait != RealWait::None && run.file.sentWords().isEmpty());
        run.plan = randomFaults(rng, realWait, int(run.file.sentWords().size()));
        run.fileName = writeFile(QStringLiteral("run%1.hex").arg(number), run.file.text);

        performRun(run);
        const QString problem = checkRun(run);
        QVERIFY2(problem.isEmpty(), qPrintable(context(run) + problem));
        ++counts[run.ending];
        for (const QString &kind : run.plan.kinds())
            ++faultCounts[kind];
        runsWithUnevenTakes += m_tap->unevenTakes > 0 ? 1 : 0;
    }

    qInfo("soak: %d runs in %.1f s: completion %d, time-out ending %d, failure ending %d, handshake ending "
          "(\"通信エラー\") %d",
          m_runs, total.elapsed() / 1000.0, counts.value(Ending::Completion), counts.value(Ending::TimeOut),
          counts.value(Ending::Failure), counts.value(Ending::Handshake));
    QStringList tally;
    for (auto it = faultCounts.cbegin(); it != faultCounts.cend(); ++it)
        tally << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
    qInfo("soak: runs planned with %s", qPrintable(tally.join(QStringLiteral(", "))));
    qInfo("soak: in %d runs answers were taken in other pieces than the kit wrote them (a late byte then "
          "answers a later frame)",
          runsWithUnevenTakes);
}

// A kit that hung up in the last run is started on a new line.
void TestSoak::prepareKit(const FaultPlan &plan)
{
    KitSimulator &kit = m_kit;
    // Cleared before the new counts apply and before a restart: the old record
    // would meet the hang-up count at once.
    kit.clearRecord();
    kit.setConfig(plan.kitConfig());
    if (!kit.isRunning())
        kit.start();
}

void TestSoak::armFaults(const Run &run, QObject &scope)
{
    const FaultPlan &plan = run.plan;
    KitSimulator &kit = m_kit;
    m_tap->frames.clear();
    m_tap->bytesPerAnswer = int(plan.stray.size() + plan.answer.size());
    m_tap->unevenTakes = 0;
    m_tap->beforeFrame = [&kit, &plan](int frame) {
        if (frame != plan.slowFrame && frame != plan.slowFrame + 1)
            return;
        KitSimConfig config = plan.kitConfig();
        if (frame == plan.slowFrame)
            config.frameDelayUs = plan.slowDelayUs;
        kit.setConfig(config);
    };
    // What the window does when it is closed during a transfer.
    m_tap->afterFrame = [this, &plan, &scope](int frame) {
        if (frame != plan.closeAfter)
            return;
        QTimer::singleShot(0, &scope, [this] { m_link->cancel(); });
    };
}

void TestSoak::performRun(Run &run)
{
    m_reports->clear();
    prepareKit(run.plan);
    QObject scope; // ends any close request still pending with the run
    armFaults(run, scope);

    m_watchdog.arm(std::chrono::milliseconds(timeBound(run.plan) + HangMarginMs),
                   QStringLiteral("seed %1, run %2").arg(m_seed).arg(run.number));
    QElapsedTimer timer;
    timer.start();
    QSignalSpy ended(m_reports.get(), &RecordingReports::ended);
    const PortChoice port{m_kit.slavePath(), lineSettingsFor(StandardKit, run.plan.speed)};
    m_link->startUpdate(port, [fileName = run.fileName] { return HexFile::read(fileName); });
    while (m_link->busy())
        ended.wait(100);
    run.elapsedMs = timer.elapsed();
    m_watchdog.disarm();

    m_tap->beforeFrame = nullptr;
    m_tap->afterFrame = nullptr;
    settleAfter(run);
}

// Lets the kit take in the frames still on the line, finish a hang-up, and
// write an answer that came too late, so that the record is final and the
// next run starts on a quiet line.
void TestSoak::settleAfter(Run &run)
{
    KitSimulator &kit = m_kit;
    const int sent = int(m_tap->frames.size());
    waitUntil([&] { return kit.frames().size() >= sent || !kit.isRunning(); }, SettleMs);
    const int hangUp = run.plan.hangUpAfter;
    if (hangUp >= 1 && kit.frames().size() >= hangUp)
        waitUntil([&] { return !kit.isRunning(); }, SettleMs);
    run.kitHungUp = !kit.isRunning();
    if (run.plan.slowDelayUs > AnswerLimitUs)
        QThread::msleep(unsigned(run.plan.slowDelayUs - AnswerLimitUs) / 1000 + 100);
}

QString TestSoak::checkRun(Run &run)
{
    const RecordingReports &host = *m_reports;
    if (run.elapsedMs > timeBound(run.plan))
        return QStringLiteral("the run took %1 ms").arg(run.elapsedMs);
    if (QString problem = classify(host, run.ending); !problem.isEmpty())
        return problem;
    if (run.ending == Ending::Handshake)
        return checkHandshakeEnding(host, m_tap->frames);
    return checkTransferEnding(run);
}

QString TestSoak::checkTransferEnding(const Run &run)
{
    const RecordingReports &host = *m_reports;
    const QVector<FileWord> sent = run.file.sentWords();
    if (QString problem = checkPrefixOfFile(m_tap->frames, sent, QStringLiteral("host's")); !problem.isEmpty())
        return problem;
    if (QString problem = checkKitRecord(m_kit, m_tap->frames, sent, run.kitHungUp); !problem.isEmpty())
        return problem;
    if (QString problem = checkProgress(host, run.ending, run.file, int(m_tap->frames.size())); !problem.isEmpty())
        return problem;
    if (m_link->commError() != (run.ending == Ending::TimeOut))
        return QStringLiteral("the communication error flag is %1").arg(m_link->commError());
    if (!run.plan.runsAhead() && !decidedEndings(run.plan, run.file).contains(run.ending))
        return QStringLiteral("the faults call for another ending");
    if (run.ending == Ending::Completion)
        return checkCompletionSeconds(host, run.elapsedMs, run.plan);
    return QString();
}

QString TestSoak::context(const Run &run) const
{
    QString fileText = QString::fromLatin1(run.file.text);
    fileText.remove(QLatin1Char('\r'));
    return QStringLiteral("seed %1, run %2 of %3: %4 after %5 ms\nfaults: %6\nframes sent: %7 of %8 words to send\n"
                          "failure details: %9\nfile:\n%10problem: ")
        .arg(m_seed)
        .arg(run.number)
        .arg(m_runs)
        .arg(endingName(run.ending))
        .arg(run.elapsedMs)
        .arg(run.plan.describe())
        .arg(m_tap->frames.size())
        .arg(run.file.sentWords().size())
        .arg(m_reports->details.join(QStringLiteral(" | ")))
        .arg(fileText);
}

QTEST_GUILESS_MAIN(TestSoak)
#include "tst_soak.moc"
