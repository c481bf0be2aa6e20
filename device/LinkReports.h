// What the exchanges with a kit report on the desktop, as typed values. The window turns
// them into its status line, progress bar and message boxes; the command line
// into lines of text. All reports come on the thread that runs the exchange.
#pragma once

#include "KitExchange.h"
#include "UpdateHistory.h"

#include <QString>
#include <chrono>

// The box text of a message, exactly as the kit's users know it.
QString messageText(LinkMessage message);

struct LinkResult {
    using Ending = ExchangeEnding;

    bool update = false;     // an update (with its handshake), or a version query on its own
    Ending ending = Ending::Done;
    QString devicePath;
    QString kitVersion;      // the version read by the handshake; empty when none was read
    int versionAnswerBytes = 0; // the bytes read with the version (16, more when they came at once)
    int wordsSent = 0;
    int wordsToSend = 0;     // 0 until the file has been read
    double seconds = 0;      // from the start of the exchange to its ending
    std::chrono::microseconds medianAnswerWait{0}; // from a frame to its answer; 0: no word answered
    QString detail;          // why it failed, in words; empty on success
};

// The ending's name in the update history: done, timeout, failed, rejected, stopped.
QString historyEndingName(LinkResult::Ending ending);

// The history line of an update that has just ended, with what the exchange
// knows; the front end adds the program, the port as the user named it, the
// adapter's serial number and the file.
UpdateRecord historyRecord(const LinkResult &result);

class LinkReports {
public:
    virtual ~LinkReports() = default;
    // The status line: one line of text, the empty text clears it.
    virtual void statusText(const QString &text) = 0;
    // The reason behind the status just shown, for a user who wants to know more.
    virtual void failureDetail(const QString &reason) = 0;
    virtual void versionRead(const QString &version) = 0;
    virtual void wordWritten(const WordProgress &progress) = 0;
    // The progress display falls back to its start (after a word timed out).
    virtual void progressReset() = 0;
    // A message box; the exchange goes on once the call returns.
    virtual void message(LinkMessage message) = 0;
    // The exchange's result is settled, its time taken: nothing more goes to
    // the kit. Comes before the closing message box, if there is one, which
    // may stay open for any time, and before finished().
    virtual void concluded(const LinkResult &) {}
    // The exchange has ended; another one may start from here on.
    virtual void finished(const LinkResult &result) = 0;
};

// For those who wait for an exchange's ending (a port probe, a benchmark):
// what it shows on the way is dropped unless they take it.
class EndingReports : public LinkReports {
public:
    void statusText(const QString &) override {}
    void failureDetail(const QString &) override {}
    void versionRead(const QString &) override {}
    void wordWritten(const WordProgress &) override {}
    void progressReset() override {}
    void message(LinkMessage) override {}
};
