#include "KitSimulator.h"

#include "HexWriter.h"

#include <QFile>
#include <QtGlobal>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned char kAskF = 0x46;
constexpr unsigned char kAskVersion = 0x3F;
constexpr unsigned char kFrameStart = 0x41;
constexpr int kFramePayload = 4;            // address high, address low, data high, data low
constexpr quint32 kMemoryWords = 0x2000;    // 8K program words

std::runtime_error systemError(const std::string &what)
{
    return std::runtime_error(what + ": " + std::strerror(errno));
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void makeRaw(int fd, const char *side)
{
    termios settings {};
    if (::tcgetattr(fd, &settings) != 0)
        throw systemError(std::string("cannot read the terminal settings of the ") + side);
    ::cfmakeraw(&settings);
    if (::tcsetattr(fd, TCSANOW, &settings) != 0)
        throw systemError(std::string("cannot put the ") + side + " into raw mode");
}

// What one received byte completes.
struct Received {
    enum Kind { Nothing, AskF, AskVersion, Frame } kind = Nothing;
    KitFrame frame {};
};

// Collects the four bytes after 0x41; frames may arrive split across reads.
// Inside a frame every byte is data, even 0x46 or 0x3F.
class FrameAssembler {
public:
    Received feed(unsigned char byte)
    {
        if (inFrame_)
            return collect(byte);
        if (byte == kFrameStart) {
            inFrame_ = true;
            payload_.clear();
            return {};
        }
        if (byte == kAskF)
            return {Received::AskF, {}};
        if (byte == kAskVersion)
            return {Received::AskVersion, {}};
        return {};
    }

private:
    Received collect(unsigned char byte)
    {
        payload_.append(char(byte));
        if (payload_.size() < kFramePayload)
            return {};
        inFrame_ = false;
        const auto at = [this](int i) { return quint16(quint8(payload_.at(i))); };
        return {Received::Frame, {quint16(at(0) << 8 | at(1)), quint16(at(2) << 8 | at(3))}};
    }

    bool inFrame_ = false;
    QByteArray payload_;
};

} // namespace

struct KitSimulator::State {
    // Shared with the kit thread, behind the mutex.
    mutable std::mutex mutex;
    KitSimConfig config;
    QVector<KitFrame> frames;
    QByteArray commands;
    QMap<quint16, quint16> memory;
    FILE *log = nullptr;
    QString slavePath;
    Clock::time_point origin = Clock::now();

    // Owned by the kit thread while it runs, by the owner otherwise.
    int master = -1;
    int slave = -1;      // kept open so that the host's close/reopen never hangs up the line
    int wake = -1;       // eventfd: stop() and setConfig() interrupt the thread's waits
    std::thread thread;
    std::atomic<bool> stopRequested {false};
    std::atomic<bool> running {false};

    ~State()
    {
        closeFd(wake);
        if (log)
            std::fclose(log);
    }

    // ---- owner side ----

    void openLine()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0)
            throw systemError("cannot open a pseudo-terminal");
        char name[128];
        if (::grantpt(master) != 0 || ::unlockpt(master) != 0
            || ::ptsname_r(master, name, sizeof name) != 0)
            throw systemError("cannot unlock the pseudo-terminal");
        slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0)
            throw systemError(std::string("cannot open ") + name);
        makeRaw(master, "pseudo-terminal master");
        makeRaw(slave, "pseudo-terminal slave");
        // Non-blocking, so that a host that stops reading can never wedge stop().
        if (::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK) != 0)
            throw systemError("cannot make the pseudo-terminal non-blocking");
        std::lock_guard<std::mutex> lock(mutex);
        slavePath = QString::fromLocal8Bit(name);
        origin = Clock::now();
    }

    void closeLine()
    {
        closeFd(master);
        closeFd(slave);
    }

    void wakeThread()
    {
        const quint64 one = 1;
        if (::write(wake, &one, sizeof one) != sizeof one)
            qWarning("kit simulator: cannot wake the kit thread: %s", std::strerror(errno));
    }

    void drainWake()
    {
        quint64 count = 0;
        while (::read(wake, &count, sizeof count) > 0) {
        }
    }

    // ---- shared, called with the mutex held ----

    void logLocked(const char *event)
    {
        if (!log)
            return;
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - origin);
        if (std::fprintf(log, "%lld %s\n", static_cast<long long>(us.count()), event) < 0
            || std::fflush(log) != 0) {
            qWarning("kit simulator: log file write failed, logging switched off: %s",
                     std::strerror(errno));
            std::fclose(log);
            log = nullptr;
        }
    }

    // ---- kit thread ----

    struct FrameReply {
        QByteArray answer;   // empty: stay silent
        QByteArray stray;    // written before the delay; only with an answer
        int delayUs = 0;
        bool hangUp = false;
    };

    QByteArray recordCommand(unsigned char byte)
    {
        std::lock_guard<std::mutex> lock(mutex);
        commands.append(char(byte));
        logLocked(byte == kAskF ? "F" : "?");
        return byte == kAskF ? config.answerToF : config.versionAnswer;
    }

    FrameReply recordFrame(const KitFrame &frame)
    {
        std::lock_guard<std::mutex> lock(mutex);
        frames.append(frame);
        if (frame.address < kMemoryWords)
            memory.insert(frame.address, frame.value);
        if (log) { // formatting costs as much as the rest of a frame: only for a log
            char event[32];
            std::snprintf(event, sizeof event, "A %04X %04X", frame.address, frame.value);
            logLocked(event);
        }

        const int count = frames.size();
        FrameReply reply;
        reply.hangUp = config.hangUpAfterFrames >= 0 && count >= config.hangUpAfterFrames;
        const bool silent = config.silentAfterFrames >= 0 && count > config.silentAfterFrames;
        if (!reply.hangUp && !silent) {
            reply.answer = config.frameAnswer;
            reply.stray = config.strayBeforeAnswer;
        }
        reply.delayUs = config.frameDelayUs;
        return reply;
    }

    bool hangUpDue() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return config.hangUpAfterFrames >= 0 && frames.size() >= config.hangUpAfterFrames;
    }

    // Only the kit's side goes: the host sees the hang-up at once. The slave
    // stays open until stop() or start(), so that the system does not hand the
    // line's number to another pseudo-terminal while a host may still reopen
    // the old path (it then fails, rather than reaching someone else's kit).
    void hangUp()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            logLocked("hangup");
        }
        closeFd(master);
    }

    void threadMain()
    {
        serveLine();
        running = false;
    }

    void serveLine()
    {
        FrameAssembler assembler;
        unsigned char buffer[512];
        while (!stopRequested) {
            if (hangUpDue())
                return hangUp();
            if (!waitForInput())
                continue;
            errno = 0;
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (n <= 0)
                return lineFailed("read");
            for (ssize_t i = 0; i < n; ++i) {
                if (!serveByte(assembler.feed(buffer[i])))
                    return;
            }
        }
    }

    // Returns false when the kit thread must end.
    bool serveByte(const Received &received)
    {
        switch (received.kind) {
        case Received::Nothing:
            return true;
        case Received::AskF:
            return writeAll(recordCommand(kAskF));
        case Received::AskVersion:
            return writeAll(recordCommand(kAskVersion));
        case Received::Frame:
            return answerFrame(recordFrame(received.frame));
        }
        return true;
    }

    bool answerFrame(const FrameReply &reply)
    {
        if (reply.hangUp) {
            hangUp();
            return false;
        }
        if (reply.answer.isEmpty())
            return true;
        return writeAll(reply.stray) && sleepUs(reply.delayUs) && writeAll(reply.answer);
    }

    // Waits for bytes from the host; false when woken instead.
    bool waitForInput()
    {
        pollfd fds[2] = {{master, POLLIN, 0}, {wake, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            return false;
        if (fds[1].revents & POLLIN) {
            drainWake();
            return false;
        }
        return fds[0].revents != 0;
    }

    // A timed wait that stop() can cut short; false when stopping.
    bool sleepUs(int delayUs)
    {
        const auto deadline = Clock::now() + std::chrono::microseconds(delayUs);
        for (;;) {
            const auto left = deadline - Clock::now();
            if (left <= Clock::duration::zero())
                return true;
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            const timespec timeout {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
            pollfd fd {wake, POLLIN, 0};
            if (::ppoll(&fd, 1, &timeout, nullptr) > 0)
                drainWake();
            if (stopRequested)
                return false;
        }
    }

    bool writeAll(const QByteArray &bytes)
    {
        const char *next = bytes.constData();
        size_t left = size_t(bytes.size());
        while (left > 0) {
            const ssize_t n = ::write(master, next, left);
            if (n > 0) {
                next += n;
                left -= size_t(n);
            } else if (n < 0 && errno == EAGAIN) {
                if (!waitWritable())
                    return false;
            } else if (!(n < 0 && errno == EINTR)) {
                lineFailed("write");
                return false;
            }
        }
        return true;
    }

    bool waitWritable()
    {
        pollfd fds[2] = {{master, POLLOUT, 0}, {wake, POLLIN, 0}};
        if (::poll(fds, 2, -1) > 0 && (fds[1].revents & POLLIN))
            drainWake();
        return !stopRequested;
    }

    // An unexpected error on the master side: report it and hang up, so that
    // the host is not left waiting on a half-dead line.
    void lineFailed(const char *operation)
    {
        qWarning("kit simulator: %s on the pseudo-terminal failed: %s", operation,
                 errno ? std::strerror(errno) : "end of file");
        hangUp();
    }
};

KitSimulator::KitSimulator(const KitSimConfig &config)
    : d(std::make_unique<State>())
{
    d->config = config;
    d->wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (d->wake < 0)
        throw systemError("cannot create the kit simulator's wake-up event");
}

KitSimulator::~KitSimulator()
{
    stop();
}

void KitSimulator::start()
{
    if (d->running)
        return;
    if (d->thread.joinable())
        d->thread.join();   // ended by a hang-up
    d->closeLine();
    try {
        d->openLine();
    } catch (...) {
        d->closeLine();
        throw;
    }
    d->drainWake();
    d->stopRequested = false;
    d->running = true;
    d->thread = std::thread([this] { d->threadMain(); });
}

void KitSimulator::stop()
{
    if (d->thread.joinable()) {
        d->stopRequested = true;
        d->wakeThread();
        d->thread.join();
    }
    d->running = false;
    d->closeLine();
}

QString KitSimulator::slavePath() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->slavePath;
}

bool KitSimulator::isRunning() const
{
    return d->running;
}

void KitSimulator::setConfig(const KitSimConfig &config)
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->config = config;
    }
    // A new hang-up count may already be reached.
    if (d->running)
        d->wakeThread();
}

KitSimConfig KitSimulator::config() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->config;
}

QVector<KitFrame> KitSimulator::frames() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->frames;
}

QByteArray KitSimulator::commandBytes() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->commands;
}

QMap<quint16, quint16> KitSimulator::memory() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->memory;
}

void KitSimulator::clearRecord()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->frames.clear();
    d->commands.clear();
    d->memory.clear();
}

void KitSimulator::writeHexDump(const QString &path) const
{
    const QByteArray text = HexWriter::words(memory());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write the HEX dump " + path.toStdString() + ": "
                                 + file.errorString().toStdString());
    if (file.write(text) != text.size() || !file.flush())
        throw std::runtime_error("writing the HEX dump " + path.toStdString() + " failed: "
                                 + file.errorString().toStdString());
}

void KitSimulator::setLogFile(const QString &path)
{
    FILE *opened = nullptr;
    if (!path.isEmpty()) {
        opened = std::fopen(QFile::encodeName(path).constData(), "ae");
        if (!opened)
            throw systemError("cannot open the log file " + path.toStdString());
    }
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->log)
        std::fclose(d->log);
    d->log = opened;
}
