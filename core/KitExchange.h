// The exchanges with one kit, the firmware version query and the firmware
// update, as a state machine that does no I/O of its own: its driver hands it
// the bytes that arrived, the expiry of the timer it asked for, a failed line,
// and the time now with each; it answers by asking the driver to open, write,
// discard, close and arm a timer, and by typed reports. It never waits, sleeps
// or reads a clock, so the window, the command line and the web page run the
// same exchanges, and tests run them on a virtual clock.
#pragma once

#include "HexImage.h"
#include "KitProfile.h"
#include "LineError.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// A moment on the driver's monotonic clock; only differences count.
using Instant = std::chrono::nanoseconds;

// The message boxes of the exchanges.
enum class LinkMessage {
    VersionTimedOut, // the version answer did not come in time
    UpdateDone,      // the update is complete: switch the kit off and on
    UpdateTimedOut,  // a word got no answer in time
};

// The box text of a message, exactly as the kit's users know it.
std::string messageBoxText(LinkMessage message);

// After each word of the file, sent or not, in file order.
struct WordProgress {
    std::uint32_t address; // the word's address
    int sent;              // words sent so far, this one included when it was sent
    int toSend;            // words of the file the kit is to receive
};

enum class ExchangeEnding {
    Done,       // version read, or update complete
    PortFailed, // the port could not be opened, or failed during the version query
    CommError,  // the version query got no answer in time
    TimedOut,   // a word got no answer in time
    Failed,     // the line failed during the transfer
    Rejected,   // the HEX file could not be read or failed its checks
    Stopped,    // cancelled on request
};

struct ExchangeResult {
    bool update = false;        // an update (with its handshake), or a version query on its own
    ExchangeEnding ending = ExchangeEnding::Done;
    std::string portName;       // the port as the driver named it
    std::string kitVersion;     // the version read by the handshake (UTF-8); empty when none was read
    int versionAnswerBytes = 0; // the bytes read with the version (16, more when they came at once)
    int wordsSent = 0;
    int wordsToSend = 0;        // 0 until the file has been read
    double seconds = 0;         // from the start of the exchange to its ending, to the millisecond
    // The middle of the waits from a frame to its answer (0 when no word was
    // answered): what the line and the kit cost per word.
    std::chrono::microseconds medianAnswerWait{0};
    std::string detail;         // why it failed, in words; empty on success
};

// What the exchanges report, as the user is to see it. A report may run the
// driver's event loop; an exchange that is cancelled or replaced meanwhile
// does nothing more of its own.
class ExchangeReports {
public:
    virtual ~ExchangeReports() = default;
    // The status line: one line of text, the empty text clears it.
    virtual void statusText(const std::string &text) = 0;
    // The reason behind the status just shown, for a user who wants to know more.
    virtual void failureDetail(const std::string &reason) = 0;
    virtual void versionRead(const std::string &version) = 0;
    virtual void wordWritten(const WordProgress &progress) = 0;
    // The progress display falls back to its start (after a word timed out).
    virtual void progressReset() = 0;
    // A message box; the exchange goes on once the call returns.
    virtual void message(LinkMessage message) = 0;
    // The exchange's result is settled, its time taken: nothing more goes to
    // the kit. Comes before the closing message box, if there is one, which
    // may stay open for any time, and before finished().
    virtual void concluded(const ExchangeResult &) {}
    // The exchange has ended; another one may start from here on.
    virtual void finished(const ExchangeResult &result) = 0;
};

// What an exchange asks of the driver that runs it. Calls that fail throw LineError.
class ExchangeDriver {
public:
    virtual ~ExchangeDriver() = default;
    // Sets the line up for the kit afresh and opens it: closes it if it is
    // open, drops what it holds, applies the user's port and speed, opens.
    virtual void openLine() = 0;
    virtual void closeLine() = 0;
    // Drops every received byte, also those the driver or the system still hold.
    virtual void discardInput() = 0;
    // Hands the bytes to the line in order and returns without waiting.
    virtual void write(const std::uint8_t *bytes, std::size_t count) = 0;
    // Calls timerExpired() once, no sooner than `delay` from the moment of this
    // call; replaces a timer armed before. (From the moment of the call, not
    // of the event: opening a USB adapter may take a while, and the pause
    // after the prepare command is counted from its sending.)
    virtual void armTimer(std::chrono::nanoseconds delay) = 0;
    virtual void cancelTimer() = 0;
};

// Gives the words to write once the handshake has succeeded. Throws
// HexFileError when the file cannot be used.
using FirmwareLoader = std::function<HexImage()>;

// Whether the kit receives a word of the file: in its write window, and not
// under an extended base address that moves it out of the kit's memory.
bool isSent(const KitProfile &profile, const HexWord &word);
int wordsToSend(const KitProfile &profile, const std::vector<HexWord> &words);

// The kit's version answer as UTF-8, one character per byte of the first
// `length`: 0x00-0x7F as that code point (a zero byte included), 0xA1-0xDF as
// the half-width katakana U+FF61-U+FF9F of the Japanese single-byte code page,
// any other byte as U+FFFD.
std::string versionTextFromBytes(const std::uint8_t *bytes, std::size_t count, int length);

class KitExchange {
public:
    KitExchange(const KitProfile &profile, ExchangeDriver &driver, ExchangeReports &reports);

    // Starts the version query on the port the driver opens; portName names
    // it in the reasons. Returns false, doing nothing, while another exchange runs.
    bool startVersionQuery(Instant now, const std::string &portName);
    // Starts an update: the port is opened once as a test, the version query
    // runs as the handshake, then loadFirmware() gives the words to write.
    // Returns false, doing nothing, while another exchange runs.
    bool startUpdate(Instant now, const std::string &portName, FirmwareLoader loadFirmware);
    // Stops the running exchange at once: nothing more is sent, the line is
    // closed, and the exchange ends as stopped. Does nothing when none runs.
    void cancel(Instant now);

    // What the driver hands over.
    void bytesArrived(Instant now, const std::uint8_t *bytes, std::size_t count);
    void timerExpired(Instant now);
    // The line failed while open (device unplugged, hang-up); it is closed by now.
    void lineFailed(Instant now, const std::string &reason);

    bool busy() const { return m_state != State::Idle; }
    // True after a version query or a word that failed; false once a query starts.
    bool commError() const { return m_commError; }

private:
    enum class State { Idle, Opening, Pausing, AwaitingVersion, Transferring, AwaitingWord, Ending };

    void begin(Instant now, bool update, const std::string &portName);
    void openForUpdate(Instant now);
    void startQuery(Instant now);
    void sendVersionRequest(Instant now);
    void versionAnswered(Instant now);
    void startTransfer(Instant now);
    void sendNextWords(Instant now);
    void wordAnswered(Instant now);
    void deadlineReached(Instant now);

    void queryFailed(Instant now, const std::string &reason);
    void queryTimedOut(Instant now);
    void transferDone(Instant now);
    void transferTimedOut(Instant now);
    void transferFailed(Instant now, ExchangeEnding ending, const std::string &reason, bool closeTheLine);
    void enterEnding();
    // Settles the result with the time so far and reports it as concluded.
    void conclude(Instant now, ExchangeEnding ending, const std::string &detail = std::string());
    // Ends the concluded exchange: another one may start.
    void finish();
    void finish(Instant now, ExchangeEnding ending, const std::string &detail = std::string());

    void send(const std::uint8_t *bytes, std::size_t count);
    void armDeadline(Instant now, std::chrono::milliseconds limit);
    void wakeAt(Instant now, Instant at);
    bool stillTransferring(std::uint64_t run) const;
    std::string wordsSoFar() const;

    const KitProfile &m_profile;
    ExchangeDriver &m_driver;
    ExchangeReports &m_reports;

    State m_state = State::Idle;
    std::uint64_t m_run = 0; // counts the exchanges started
    bool m_commError = false;

    bool m_update = false;
    std::string m_portName;
    FirmwareLoader m_loadFirmware;
    std::vector<std::uint8_t> m_input; // received and not yet taken
    Instant m_exchangeStart{0};
    std::optional<Instant> m_transferStart;
    Instant m_pauseEnd{0};
    Instant m_deadline{0};
    Instant m_sentAt{0};
    std::optional<Instant> m_timerAt; // when the armed timer fires, or a little before
    bool m_continuePending = false;   // a break in a long run of words the kit does not receive
    ExchangeResult m_result;          // of the exchange that ends
    std::string m_kitVersion;
    int m_versionAnswerBytes = 0;
    std::vector<HexWord> m_words;
    std::vector<std::uint32_t> m_answerWaitsUs;
    std::size_t m_next = 0;
    int m_sent = 0;
    int m_toSend = 0;
};
