// The core's exchanges against the core's simulated kit on a virtual clock:
// the kit's bytes arrive when the clock gets to them, the armed timer fires
// when it gets to its time, and no real time passes. What the exchange did to
// the line and what it reported are kept as lines of text.
#pragma once

#include "KitExchange.h"
#include "SimulatedKit.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

using namespace std::chrono_literals;

// Every report as one line: "status: ...", "detail: ...", "version: ...",
// "word 0x0008 1/2", "reset", "message", "finished".
class RecordingReports : public ExchangeReports {
public:
    std::vector<std::string> events;
    std::vector<std::string> statuses;
    std::vector<std::string> details;
    std::vector<std::string> versions;
    std::vector<LinkMessage> messages;
    std::vector<WordProgress> words;
    std::optional<ExchangeResult> result;
    std::function<void()> onWord; // runs inside every word report

    void statusText(const std::string &text) override
    {
        statuses.push_back(text);
        events.push_back("status: " + text);
    }
    void failureDetail(const std::string &reason) override
    {
        details.push_back(reason);
        events.push_back("detail");
    }
    void versionRead(const std::string &version) override
    {
        versions.push_back(version);
        events.push_back("version: " + version);
    }
    void wordWritten(const WordProgress &progress) override
    {
        words.push_back(progress);
        char line[64];
        std::snprintf(line, sizeof line, "word 0x%04X %d/%d", unsigned(progress.address), progress.sent,
                      progress.toSend);
        events.push_back(line);
        if (onWord)
            onWord();
    }
    void progressReset() override { events.push_back("reset"); }
    void message(LinkMessage message) override
    {
        messages.push_back(message);
        events.push_back("message");
    }
    void finished(const ExchangeResult &r) override
    {
        result = r;
        events.push_back("finished");
    }
};

class VirtualKit : public ExchangeDriver {
public:
    explicit VirtualKit(const KitSimConfig &config = {}) : kit(config) {}

    // Runs the events until the exchange has ended.
    void run()
    {
        while (exchange.busy() && step(Instant::max())) {
        }
    }
    // Runs every event up to `until`, ended exchange or not, and sets the clock there.
    void runUntil(Instant until)
    {
        while (step(until)) {
        }
        now = std::max(now, until);
    }

    void version()
    {
        exchange.startVersionQuery(now, "/dev/kit");
        run();
    }
    void update(const std::string &hexText)
    {
        exchange.startUpdate(now, "/dev/kit", [hexText] { return HexFile::parse(hexText); });
        run();
    }

    // The kit's frames as "0008=1234".
    std::vector<std::string> frames() const
    {
        std::vector<std::string> shown;
        for (const KitFrame &f : kit.frames()) {
            char text[16];
            std::snprintf(text, sizeof text, "%04X=%04X", unsigned(f.address), unsigned(f.value));
            shown.push_back(text);
        }
        return shown;
    }

    SimulatedKit kit;
    RecordingReports reports;
    KitExchange exchange{StandardKit, *this, reports};
    Instant now{0};
    bool open = false;
    int timersArmed = 0;
    std::optional<std::string> openFailure; // the next openLine() throws this
    // What the exchange did to the line: "open", "close", "discard", "write 46" ...
    std::vector<std::string> line;
    std::vector<Instant> writtenAt; // the moment of each write

private:
    struct Arrival {
        std::string bytes;
        bool hangUp = false;
    };

    void openLine() override
    {
        closeLine();
        line.push_back("open");
        if (openFailure) {
            const std::string reason = *openFailure;
            openFailure.reset();
            throw LineError(reason);
        }
        open = true;
        kit.lineStarted();
    }
    void closeLine() override
    {
        if (open)
            line.push_back("close");
        open = false;
        m_arrivals.clear(); // answers on their way are lost with the line
    }
    void discardInput() override { line.push_back("discard"); }
    void write(const std::uint8_t *bytes, std::size_t count) override
    {
        if (!open)
            throw LineError("/dev/kit: the port is not open");
        std::string shown = "write";
        for (std::size_t i = 0; i < count; ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02x", bytes[i]);
            shown += hex;
        }
        line.push_back(shown);
        writtenAt.push_back(now);
        for (const SimulatedKit::Reply &reply : kit.receive(bytes, count)) {
            if (reply.hangUp) {
                schedule(now, {std::string(), true});
                continue;
            }
            Instant at = now;
            for (const SimulatedKit::Step &step : reply.steps) {
                at += std::chrono::microseconds(step.delayUs);
                if (!step.bytes.empty())
                    schedule(at, {step.bytes, false});
            }
        }
    }
    void armTimer(std::chrono::nanoseconds delay) override
    {
        m_timerAt = now + delay;
        ++timersArmed;
    }
    void cancelTimer() override { m_timerAt.reset(); }

    bool step(Instant until)
    {
        const std::optional<Instant> next = nextEventTime();
        if (!next || *next > until)
            return false;
        now = *next;
        deliverAt(now);
        return true;
    }

    void schedule(Instant at, Arrival arrival) { m_arrivals.emplace(std::make_pair(at, m_sequence++), arrival); }

    std::optional<Instant> nextEventTime() const
    {
        std::optional<Instant> next = m_timerAt;
        if (!m_arrivals.empty() && (!next || m_arrivals.begin()->first.first <= *next))
            next = m_arrivals.begin()->first.first;
        return next;
    }

    // Bytes that arrive with the timer's moment come first.
    void deliverAt(Instant at)
    {
        if (!m_arrivals.empty() && m_arrivals.begin()->first.first == at) {
            const Arrival arrival = m_arrivals.begin()->second;
            m_arrivals.erase(m_arrivals.begin());
            if (arrival.hangUp) {
                open = false;
                m_arrivals.clear();
                return exchange.lineFailed(at, "/dev/kit: the device went away (unplugged?)");
            }
            return exchange.bytesArrived(at, reinterpret_cast<const std::uint8_t *>(arrival.bytes.data()),
                                         arrival.bytes.size());
        }
        m_timerAt.reset();
        exchange.timerExpired(at);
    }

    std::map<std::pair<Instant, int>, Arrival> m_arrivals;
    int m_sequence = 0;
    std::optional<Instant> m_timerAt;
};

// A data record holding one program word (low byte first) at word address w.
inline std::string wordRecord(std::uint16_t wordAddress, std::uint16_t value)
{
    const unsigned byteAddress = wordAddress * 2u;
    const unsigned sum = 2 + (byteAddress >> 8) + (byteAddress & 0xFF) + (value & 0xFF) + (value >> 8);
    char line[32];
    std::snprintf(line, sizeof line, ":02%04X00%02X%02X%02X\n", byteAddress & 0xFFFF, value & 0xFF, value >> 8,
                  (0x100 - (sum & 0xFF)) & 0xFF);
    return line;
}

// Words 1 to count, value 0x1100 * w, and the end-of-file record.
inline std::string wordsFile(int count)
{
    std::string text;
    for (int w = 1; w <= count; ++w)
        text += wordRecord(std::uint16_t(w), std::uint16_t(0x1100 * w));
    return text + ":00000001FF\n";
}
