// Shared by the device tests: reports recorded as the user would see them,
// and a kit behind an in-memory line (no terminal, no thread).
#pragma once

#include "HexFile.h"
#include "HexWriter.h"
#include "InMemoryKitLine.h"
#include "KitBehaviour.h"
#include "KitLink.h"
#include "KitProfile.h"
#include "LinkReports.h"
#include "MSComm100.h"

#include <QSignalSpy>
#include <QStringList>
#include <QTest>
#include <QVector>
#include <functional>
#include <memory>

// Everything the exchanges report, in order, as one line each.
class RecordingReports : public QObject, public LinkReports {
    Q_OBJECT
public:
    QStringList events;       // "status: ...", "detail", "version: ...", "word 0x0008 1/2", "reset", "message: ..."
    QStringList statuses;
    QStringList messages;
    QStringList versions;
    QStringList details;
    QVector<WordProgress> words;
    LinkResult result;
    int endings = 0;
    std::function<void()> onWord; // runs inside every word report

    void clear()
    {
        events.clear();
        statuses.clear();
        messages.clear();
        versions.clear();
        details.clear();
        words.clear();
        result = LinkResult();
        endings = 0;
    }

    void statusText(const QString &text) override
    {
        statuses << text;
        events << QStringLiteral("status: ") + text;
    }
    void failureDetail(const QString &reason) override
    {
        details << reason;
        events << QStringLiteral("detail");
    }
    void versionRead(const QString &version) override
    {
        versions << version;
        events << QStringLiteral("version: ") + version;
    }
    void wordWritten(const WordProgress &progress) override
    {
        words << progress;
        events << QStringLiteral("word %1 %2/%3").arg(progress.address).arg(progress.sent).arg(progress.toSend);
        if (onWord)
            onWord();
    }
    void progressReset() override { events << QStringLiteral("reset"); }
    void message(LinkMessage message) override
    {
        messages << messageText(message);
        events << QStringLiteral("message");
    }
    void finished(const LinkResult &r) override
    {
        result = r;
        ++endings;
        emit ended();
    }

signals:
    void ended();
};

// Starts an exchange and returns once it has ended.
inline void runToEnd(RecordingReports &reports, const KitLink &link, const std::function<void()> &start)
{
    QSignalSpy ended(&reports, &RecordingReports::ended);
    start();
    if (link.busy())
        QVERIFY(ended.wait(10000));
}

// A kit, the in-memory line to it, the serial-port component and the exchanges.
struct InMemoryKit {
    explicit InMemoryKit(const KitSimConfig &config = {}) : kit(config)
    {
        auto owned = std::make_unique<InMemoryKitLine>(kit);
        line = owned.get();
        port = std::make_unique<MSComm100>(std::move(owned));
        link = std::make_unique<KitLink>(*port, StandardKit, reports);
    }

    void run(const std::function<void()> &start) { runToEnd(reports, *link, start); }
    void version() { run([this] { QVERIFY(link->startVersionQuery(choice)); }); }
    void update(const QByteArray &hexText)
    {
        run([&] { QVERIFY(link->startUpdate(choice, [hexText] { return HexFile::parse(hexText); })); });
    }

    KitBehaviour kit;
    InMemoryKitLine *line = nullptr;
    std::unique_ptr<MSComm100> port;
    RecordingReports reports;
    std::unique_ptr<KitLink> link;
    PortChoice choice{QStringLiteral("/dev/kit"), QStringLiteral("9600,n,8,1")};
};

// A data record holding one program word (low byte first) at word address w.
inline QByteArray wordRecord(quint16 wordAddress, quint16 value)
{
    const char bytes[] = {char(value & 0xFF), char(value >> 8)};
    return HexWriter::record(quint16(wordAddress * 2), 0x00, QByteArray(bytes, 2));
}

// Words 1 to count, value 0x1100 * w, and the end-of-file record.
inline QByteArray wordsFile(int count)
{
    QByteArray text;
    for (int w = 1; w <= count; ++w)
        text += wordRecord(quint16(w), quint16(0x1100 * w)) + "\r\n";
    return text + ":00000001FF\r\n";
}
