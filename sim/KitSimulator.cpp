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

} // namespace

struct KitSimulator::State {
    explicit State(const KitSimConfig &config) : behaviour(config) {}

    KitBehaviour behaviour;
    mutable std::mutex mutex; // guards slavePath
    QString slavePath;

    // Owned by the kit thread while it runs, by the owner otherwise.
    int master = -1;
    int slave = -1;      // kept open so that the host's close/reopen never hangs up the line
    int wake = -1;       // eventfd: stop() and setConfig() interrupt the thread's waits
    std::thread thread;
    std::atomic<bool> stopRequested {false};
    std::atomic<bool> running {false};

    ~State() { closeFd(wake); }

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

    // ---- kit thread ----

    // Only the kit's side goes: the host sees the hang-up at once. The slave
    // stays open until stop() or start(), so that the system does not hand the
    // line's number to another pseudo-terminal while a host may still reopen
    // the old path (it then fails, rather than reaching someone else's kit).
    void hangUp()
    {
        behaviour.noteHangUp();
        closeFd(master);
    }

    void threadMain()
    {
        serveLine();
        running = false;
    }

    void serveLine()
    {
        char buffer[512];
        while (!stopRequested) {
            if (behaviour.hangUpDue())
                return hangUp();
            if (!waitForInput())
                continue;
            errno = 0;
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (n <= 0)
                return lineFailed("read");
            for (const KitBehaviour::Reply &reply : behaviour.receive(buffer, n)) {
                if (!give(reply))
                    return;
            }
        }
    }

    // Returns false when the kit thread must end.
    bool give(const KitBehaviour::Reply &reply)
    {
        if (reply.hangUp) {
            hangUp();
            return false;
        }
        for (const KitBehaviour::Step &step : reply.steps) {
            if (!sleepUs(step.delayUs) || !writeAll(step.bytes))
                return false;
        }
        return true;
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

    bool writeAll(const std::string &bytes)
    {
        const char *next = bytes.data();
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
    : d(std::make_unique<State>(config))
{
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
    d->behaviour.lineStarted();
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
    d->behaviour.setConfig(config);
    // A new hang-up count may already be reached.
    if (d->running)
        d->wakeThread();
}

KitSimConfig KitSimulator::config() const { return d->behaviour.config(); }
QVector<KitFrame> KitSimulator::frames() const { return d->behaviour.frames(); }
QByteArray KitSimulator::commandBytes() const { return d->behaviour.commandBytes(); }
QMap<quint16, quint16> KitSimulator::memory() const { return d->behaviour.memory(); }
void KitSimulator::clearRecord() { d->behaviour.clearRecord(); }
KitBehaviour &KitSimulator::behaviour() { return d->behaviour; }

qint64 KitSimulator::sendUnasked(const QByteArray &bytes)
{
    if (!d->running)
        return 0;
    const ssize_t written = ::write(d->master, bytes.constData(), size_t(bytes.size()));
    return written < 0 ? 0 : written;
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
