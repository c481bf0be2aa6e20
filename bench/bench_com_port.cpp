// A whole update through a COM port on Windows (or through a Wine COM port
// that leads to kitsim), beside two floors of plain Win32 calls doing the
// same words: a blocking ReadFile per answer, and QSerialPort's way of
// waiting (WaitCommEvent for a byte, then ReadFile), on events in one thread.
// The floors tell what the system's serial layer costs; the rest is the
// program's.
//
//   bench_com_port COM7 [WORDS [RUNS]]      (defaults: 7936 words, 3 runs)
#include "KitLink.h"
#include "KitProfile.h"
#include "MSComm100.h"
#include "QtSerialLine.h"
#include "Statistics.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <windows.h>

namespace {

[[noreturn]] void fail(const std::string &why)
{
    std::fprintf(stderr, "bench_com_port: %s\n", why.c_str());
    std::exit(1);
}

KitProfile::Frame frameOf(int word) { return StandardKit.frame(std::uint32_t(word), std::uint8_t(word), 0x5A); }

// One COM port opened with plain Win32 calls at 9600 bit/s, 8N1.
class RawPort {
public:
    RawPort(const std::string &name, bool overlapped)
    {
        const std::string path = "\\\\.\\" + name;
        m_port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
        if (m_port == INVALID_HANDLE_VALUE)
            fail("cannot open " + name);
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        GetCommState(m_port, &dcb);
        dcb.BaudRate = CBR_9600;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        SetCommState(m_port, &dcb);
        PurgeComm(m_port, PURGE_RXCLEAR | PURGE_TXCLEAR);
    }
    ~RawPort() { CloseHandle(m_port); }
    HANDLE handle() const { return m_port; }

private:
    HANDLE m_port;
};

// Blocking calls: the shortest way through the serial layer.
void blockingWords(const std::string &name, int words)
{
    RawPort port(name, false);
    COMMTIMEOUTS timeouts{0, 0, 2000, 0, 0}; // a read waits up to 2 s for its byte
    SetCommTimeouts(port.handle(), &timeouts);
    for (int word = 0; word < words; ++word) {
        const KitProfile::Frame frame = frameOf(word);
        DWORD count = 0;
        char answer = 0;
        WriteFile(port.handle(), frame.data(), DWORD(frame.size()), &count, nullptr);
        if (!ReadFile(port.handle(), &answer, 1, &count, nullptr) || count != 1)
            fail("no answer to word " + std::to_string(word));
    }
}

// The end of an overlapped call just made (started: what it returned): at
// once, or once the call has completed. False when it failed.
bool ended(BOOL started, HANDLE port, OVERLAPPED &call, DWORD *count)
{
    if (started)
        return GetOverlappedResult(port, &call, count, FALSE) != 0;
    return GetLastError() == ERROR_IO_PENDING && GetOverlappedResult(port, &call, count, TRUE) != 0;
}

// Event-driven as QSerialPort is, without its completion-port thread.
void waitingWords(const std::string &name, int words)
{
    RawPort port(name, true);
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0}; // a read takes what has come, at once
    SetCommTimeouts(port.handle(), &timeouts);
    SetCommMask(port.handle(), EV_RXCHAR);
    // A call of its own for each kind, its event reset before each use.
    OVERLAPPED write{}, wait{}, read{};
    for (OVERLAPPED *call : {&write, &wait, &read})
        call->hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto fresh = [](OVERLAPPED &call) -> OVERLAPPED & {
        const HANDLE event = call.hEvent;
        call = OVERLAPPED{};
        call.hEvent = event;
        ResetEvent(event);
        return call;
    };
    for (int word = 0; word < words; ++word) {
        const KitProfile::Frame frame = frameOf(word);
        DWORD count = 0;
        if (!ended(WriteFile(port.handle(), frame.data(), DWORD(frame.size()), nullptr, &fresh(write)), port.handle(),
                   write, &count))
            fail("cannot write");
        for (count = 0; count == 0;) {
            DWORD events = 0;
            char answer = 0;
            // Wine ends some of these waits as aborted; the read below looks anyway.
            if (!ended(WaitCommEvent(port.handle(), &events, &fresh(wait)), port.handle(), wait, &count)
                && GetLastError() != ERROR_OPERATION_ABORTED)
                fail("cannot wait for the answer");
            if (!ended(ReadFile(port.handle(), &answer, 1, nullptr, &fresh(read)), port.handle(), read, &count))
                fail("cannot read the answer");
        }
    }
    for (OVERLAPPED *call : {&write, &wait, &read})
        CloseHandle(call->hEvent);
}

class Ending final : public EndingReports {
public:
    std::function<void(const LinkResult &)> onFinished;
    void finished(const LinkResult &result) override { onFinished(result); }
};

// kitupdater's own update of the words, handshake and all; the seconds of
// the transfer alone are the exchange's own less its 100 ms pause.
LinkResult kitupdaterWords(const std::string &name, int words)
{
    HexImage image;
    for (int word = 0; word < words; ++word)
        image.words.push_back({std::uint32_t(word), std::uint8_t(word), 0x5A, true});
    MSComm100 port(std::make_unique<QtSerialLine>());
    Ending reports;
    KitLink link(port, StandardKit, reports);
    QEventLoop loop;
    LinkResult result;
    reports.onFinished = [&](const LinkResult &r) {
        result = r;
        loop.quit();
    };
    link.startUpdate({QString::fromStdString(name), QStringLiteral("9600,n,8,1")}, [&image] { return image; });
    loop.exec();
    link.closePort();
    if (result.ending != LinkResult::Ending::Done || result.wordsSent != words)
        fail("kitupdater's update did not complete: " + result.detail.toStdString());
    return result;
}

double timed(const std::function<void()> &run)
{
    QElapsedTimer timer;
    timer.start();
    run();
    return double(timer.nsecsElapsed()) / 1e9;
}

void print(const char *what, const std::vector<double> &seconds, int words)
{
    std::printf("  %-44s %7.3f s (%.3f .. %.3f)   %7.1f us/word\n", what, median(seconds),
                percentile(seconds, 0.0), percentile(seconds, 1.0), median(seconds) * 1e6 / words);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        fail("usage: bench_com_port COM7 [WORDS [RUNS]]");
    const std::string name = argv[1];
    const int words = argc > 2 ? std::atoi(argv[2]) : 7936;
    const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
    std::vector<double> blocking, waiting, kitupdater, medianWaitMs;
    for (int run = 0; run < runs; ++run) {
        blocking.push_back(timed([&] { blockingWords(name, words); }));
        waiting.push_back(timed([&] { waitingWords(name, words); }));
        const LinkResult result = kitupdaterWords(name, words);
        kitupdater.push_back(result.seconds - 0.1);
        medianWaitMs.push_back(double(result.medianAnswerWait.count()) / 1000.0);
    }
    std::printf("%d words through %s, medians of %d runs (lowest .. highest):\n", words, name.c_str(), runs);
    print("Win32 floor: WriteFile, blocking ReadFile", blocking, words);
    print("Win32 floor: WaitCommEvent, then ReadFile", waiting, words);
    print("kitupdater (QtSerialLine, KitLink)", kitupdater, words);
    std::printf("  kitupdater's median wait from a frame to its answer: %.3f ms\n", median(medianWaitMs));
    return 0;
}
