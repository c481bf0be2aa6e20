// The version query and the update as the core runs them, against the
// simulated kit on a virtual clock: what goes out on the wire and when, what
// the user is told, and how each exchange ends. Every timing rule is checked
// to the millisecond without waiting for it.
#include "VirtualKit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Strings = std::vector<std::string>;

namespace {

// What the user must see, written out as the kit's users know it.
const std::string VersionReadStatus = "ファームウエアバージョンをリードしました。";
const std::string UpdatingStatus = "アップデート中です。電源は絶対に切らないでください。";
const std::string FailedStatus = "***\u3000アップデート失敗\u3000***";
const std::string CommunicationErrorStatus = "通信エラー";
const std::string PortOpenFailedStatus = "通信ポートをオープンできませんでした。";

Strings statusesUpTo(const std::string &last) { return {"", VersionReadStatus, UpdatingStatus, last}; }

std::vector<std::uint32_t> addressesOf(const std::vector<WordProgress> &words)
{
    std::vector<std::uint32_t> addresses;
    for (const WordProgress &w : words)
        addresses.push_back(w.address);
    return addresses;
}

bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

KitSimConfig answering(std::string answer, int delayUs = 0, int pieceBytes = 0)
{
    KitSimConfig c;
    c.versionAnswer = std::move(answer);
    c.versionDelayUs = delayUs;
    c.versionPieceBytes = pieceBytes;
    c.versionPieceGapUs = 40000;
    return c;
}

KitSimConfig answeringFramesAfter(int delayUs)
{
    KitSimConfig c;
    c.frameDelayUs = delayUs;
    return c;
}

KitSimConfig silentAfter(int frames)
{
    KitSimConfig c;
    c.silentAfterFrames = frames;
    return c;
}

} // namespace

TEST(VersionQuery, AnswersAndTheOneSecondLimit)
{
    struct Row {
        const char *name;
        KitSimConfig config;
        std::optional<std::string> shown; // none: the query times out
        int answerBytes;
    };
    KitSimConfig answersF = answering("0123456789abcdef");
    answersF.answerToF = "ready\r\n";
    answersF.answerToFDelayUs = 60000;
    const Row rows[] = {
        {"16 printable bytes", answering("KIT-FW Ver1.00  "), "KIT-FW Ver1.00  ", 16},
        {"20 bytes show the first 16", answering("ABCDEFGHIJKLMNOPQRST"), "ABCDEFGHIJKLMNOP", 20},
        {"3000 bytes at once: 1024 kept", answering(std::string(3000, 'x')), std::string(16, 'x'), 1024},
        {"answer to 0x46 within the pause thrown away", answersF, "0123456789abcdef", 16},
        {"zero byte kept", answering(std::string("AB\0CDEFGHIJKLMNO", 16)), std::string("AB\0CDEFGHIJKLMNO", 16), 16},
        {"bytes from 0x80 up", answering("\xB1\xDD\x80 V1.0 build 7"), "\uFF71\uFF9D\uFFFD V1.0 build 7", 16},
        {"in pieces of 3 bytes, 40 ms apart", answering("KIT-FW Ver1.00  ", 0, 3), "KIT-FW Ver1.00  ", 16},
        {"16th byte at exactly 1 s", answering("KIT-FW Ver1.00  ", 1000000), "KIT-FW Ver1.00  ", 16},
        {"16th byte 1 ms too late", answering("KIT-FW Ver1.00  ", 1001000), std::nullopt, 0},
        {"15 bytes", answering("ABCDEFGHIJKLMNO"), std::nullopt, 0},
        {"no answer", answering(""), std::nullopt, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        VirtualKit kit(row.config);

        kit.version();

        const bool answered = row.shown.has_value();
        EXPECT_EQ(kit.kit.commandBytes(), "\x46\x3F");
        EXPECT_EQ(kit.writtenAt, (std::vector<Instant>{0ms, 100ms}));
        EXPECT_EQ(kit.reports.versions, answered ? Strings{*row.shown} : Strings{});
        EXPECT_EQ(kit.reports.statuses, answered ? (Strings{"", VersionReadStatus}) : Strings{""});
        EXPECT_EQ(kit.reports.messages, answered ? std::vector<LinkMessage>{}
                                                 : std::vector<LinkMessage>{LinkMessage::VersionTimedOut});
        ASSERT_TRUE(kit.reports.result);
        EXPECT_EQ(kit.reports.result->ending, answered ? ExchangeEnding::Done : ExchangeEnding::CommError);
        EXPECT_EQ(kit.reports.result->versionAnswerBytes, row.answerBytes);
        EXPECT_EQ(kit.exchange.commError(), !answered);
        EXPECT_TRUE(kit.open); // answered or not, the port stays open
        if (!answered) { // the pause, then more than one second
            EXPECT_EQ(kit.now, 1100ms + 1ns);
        }
    }
}

TEST(VersionQuery, TimeoutSaysHowManyBytesCame)
{
    VirtualKit kit(answering("ABCDEFGHIJKLMNO"));
    kit.version();
    EXPECT_EQ(kit.reports.details, Strings{"/dev/kit: no version answer within 1 s (15 of 16 bytes)"});
    EXPECT_EQ(kit.reports.events.back(), "finished");
}

TEST(Update, WholeFiles)
{
    struct Row {
        const char *name;
        std::string hexText;
        Strings frames;
        std::vector<std::uint32_t> progress;
    };
    std::string window;
    for (std::uint16_t w : {0x1EFF, 0x1F00, 0x1FDF, 0x1FE0, 0x1FFE, 0x1FFF, 0x2000})
        window += wordRecord(w, std::uint16_t(w ^ 0xA5A5));
    window += ":04800000CAFEBABE3C\n:00000001FF\n";
    const Row rows[] = {
        {"worked example, CR LF", ":0400100034127856D8\r\n:00000001FF\r\n", {"0008=1234", "0009=5678"}, {8, 9}},
        {"write window, record at 0x8000",
         window,
         {"1EFF=BB5A", "1FE0=BA45", "1FFE=BA5B"},
         {0x1EFF, 0x1F00, 0x1FDF, 0x1FE0, 0x1FFE, 0x1FFF, 0x2000, 0x4000, 0x4001}},
        {"comments, lower case, lines after end of file",
         "; firmware\n\n:0400100034127856d8\n:00000001ff\n:02004000efbe11\n",
         {"0008=1234", "0009=5678", "0020=BEEF"},
         {8, 9, 0x20}},
        {"only an end-of-file record", ":00000001FF\r\n", {}, {}},
        {"words under a non-zero extended base are not sent",
         ":020000040000FA\n:020002001111DA\n:020000040001F9\n:020004002222B6\n:00000001FF\n",
         {"0001=1111"},
         {1, 2}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        VirtualKit kit;

        kit.update(row.hexText);

        EXPECT_EQ(kit.frames(), row.frames);
        EXPECT_EQ(kit.kit.commandBytes(), "\x46\x3F");
        EXPECT_EQ(addressesOf(kit.reports.words), row.progress);
        EXPECT_EQ(kit.reports.statuses, statusesUpTo("アップデート完了。  0sec"));
        EXPECT_EQ(kit.reports.messages, std::vector<LinkMessage>{LinkMessage::UpdateDone});
        EXPECT_EQ(kit.reports.versions, Strings{"KIT-FW Ver1.00  "});
        ASSERT_TRUE(kit.reports.result);
        EXPECT_EQ(kit.reports.result->ending, ExchangeEnding::Done);
        EXPECT_EQ(kit.reports.result->wordsSent, int(row.frames.size()));
        EXPECT_EQ(kit.reports.result->wordsToSend, int(row.frames.size()));
        EXPECT_FALSE(kit.exchange.commError());
        EXPECT_TRUE(kit.open);
    }
}

// The port is opened once as a test, then afresh by the version query.
TEST(Update, OpensThePortTwiceBeforeTheFirstByte)
{
    VirtualKit kit;
    kit.update(wordsFile(1));
    EXPECT_EQ(kit.line, (Strings{"open", "close", "open", "discard", "write 46", "discard", "write 3f",
                                 "write 41 00 01 11 00"}));
}

// Any answer accepts the word; noise before an answer counts as one, and the
// answer that follows it as the next word's.
TEST(Update, AnyAnswerAcceptsTheWord)
{
    struct Row {
        const char *name;
        std::string frameAnswer;
        std::string stray;
    };
    const Row rows[] = {
        {"several bytes", "\x06\x06\x06", ""},
        {"zero byte", std::string(1, '\0'), ""},
        {"refusal byte", "\x15", ""},
        {"noise before each answer", "\x06", "\xFF"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        KitSimConfig config;
        config.frameAnswer = row.frameAnswer;
        config.strayBeforeAnswer = row.stray;
        VirtualKit kit(config);

        kit.update(wordsFile(4));

        EXPECT_EQ(kit.frames(), (Strings{"0001=1100", "0002=2200", "0003=3300", "0004=4400"}));
        ASSERT_TRUE(kit.reports.result);
        EXPECT_EQ(kit.reports.result->ending, ExchangeEnding::Done);
    }
}

TEST(Update, TwoSecondsPerWord)
{
    struct Row {
        const char *name;
        KitSimConfig config;
        int words;
        int framesSent;
        bool timesOut;
    };
    const Row rows[] = {
        {"answers after 1.9 s", answeringFramesAfter(1900000), 2, 2, false},
        {"answers after exactly 2 s", answeringFramesAfter(2000000), 2, 2, false},
        {"answers 1 ms too late", answeringFramesAfter(2001000), 2, 1, true},
        {"silent after the first frame", silentAfter(1), 3, 2, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        VirtualKit kit(row.config);

        kit.update(wordsFile(row.words));

        EXPECT_EQ(int(kit.kit.frames().size()), row.framesSent);
        EXPECT_EQ(kit.exchange.commError(), row.timesOut);
        ASSERT_TRUE(kit.reports.result);
        if (!row.timesOut) {
            EXPECT_EQ(kit.reports.result->ending, ExchangeEnding::Done);
            continue;
        }
        // The time-out ending, in its order: status, reason, box, progress reset.
        const Strings &events = kit.reports.events;
        EXPECT_EQ(Strings(events.end() - 5, events.end()),
                  (Strings{"status: " + FailedStatus, "detail", "message", "reset", "finished"}));
        EXPECT_EQ(kit.reports.messages.back(), LinkMessage::UpdateTimedOut);
        EXPECT_EQ(kit.reports.result->ending, ExchangeEnding::TimedOut);
        EXPECT_EQ(kit.now, kit.writtenAt.back() + 2s + 1ns);
        const std::string &detail = kit.reports.details.back();
        EXPECT_TRUE(contains(detail, row.framesSent == 2 ? "word 0x0002" : "word 0x0001")) << detail;
        EXPECT_TRUE(contains(detail, row.framesSent == 2 ? "1 of 3 words" : "0 of 2 words")) << detail;
    }
}

// After the time-out the exchange is over: a late answer changes nothing.
TEST(Update, LateAnswerAfterTheDeadline)
{
    VirtualKit kit(answeringFramesAfter(2500000));
    kit.update(wordsFile(2));
    const Strings events = kit.reports.events;

    kit.runUntil(kit.now + 10s);

    EXPECT_EQ(kit.reports.events, events);
    EXPECT_EQ(kit.kit.frames().size(), 1u);
    EXPECT_TRUE(kit.exchange.commError());
}

// Whole seconds of the transfer, reading the file included, rounded down.
TEST(Update, ElapsedSeconds)
{
    VirtualKit kit(answeringFramesAfter(100000));
    kit.update(wordsFile(599)); // 59.9 s of answer waits
    EXPECT_EQ(kit.reports.statuses.back(), "アップデート完了。  59sec");
    EXPECT_DOUBLE_EQ(kit.reports.result->seconds, 60.0); // the whole exchange, pause included
}

TEST(Update, RejectedFileSendsNothing)
{
    VirtualKit kit;

    kit.update(":0400100034127856D9\n:00000001FF\n");

    EXPECT_TRUE(kit.frames().empty());
    EXPECT_EQ(kit.reports.statuses, statusesUpTo(FailedStatus));
    EXPECT_TRUE(kit.reports.messages.empty());
    EXPECT_TRUE(kit.reports.words.empty());
    EXPECT_EQ(kit.reports.details, Strings{"line 1: checksum 0xD9 is wrong, 0xD8 expected"});
    EXPECT_EQ(kit.reports.result->ending, ExchangeEnding::Rejected);
    EXPECT_FALSE(kit.exchange.commError());
    EXPECT_TRUE(kit.open);
}

TEST(Update, HandshakeFailures)
{
    struct Row {
        const char *name;
        bool portHeld;
        Strings statuses;
        std::vector<LinkMessage> messages;
        std::string commands;
        ExchangeEnding ending;
    };
    const Row rows[] = {
        {"port held by another program", true, {PortOpenFailedStatus}, {}, "", ExchangeEnding::PortFailed},
        {"version answer too short", false, {"", CommunicationErrorStatus}, {LinkMessage::VersionTimedOut}, "\x46\x3F",
         ExchangeEnding::CommError},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        VirtualKit kit(answering("too short"));
        if (row.portHeld)
            kit.openFailure = "/dev/kit: another program holds the port";

        kit.update(wordsFile(2));

        EXPECT_EQ(kit.reports.statuses, row.statuses);
        EXPECT_EQ(kit.reports.messages, row.messages);
        EXPECT_EQ(kit.kit.commandBytes(), row.commands);
        EXPECT_TRUE(kit.frames().empty());
        EXPECT_EQ(kit.reports.result->ending, row.ending);
        EXPECT_TRUE(kit.exchange.commError());
    }
}

// The line goes on the third frame: the transfer ends at once and says where.
TEST(Update, LineLostInTheMiddle)
{
    KitSimConfig config;
    config.hangUpAfterFrames = 3;
    VirtualKit kit(config);

    kit.update(wordsFile(6));

    EXPECT_EQ(kit.kit.frames().size(), 3u);
    EXPECT_EQ(addressesOf(kit.reports.words), (std::vector<std::uint32_t>{1, 2}));
    EXPECT_EQ(kit.reports.statuses, statusesUpTo(FailedStatus));
    EXPECT_TRUE(kit.reports.messages.empty());
    EXPECT_EQ(kit.reports.details,
              Strings{"/dev/kit: the device went away (unplugged?) at word 0x0003; 2 of 6 words were written before it"});
    EXPECT_EQ(kit.reports.result->ending, ExchangeEnding::Failed);
    EXPECT_FALSE(kit.open);
}

// A stop ends the exchange at once, wherever it is: nothing more goes out.
TEST(Update, Cancel)
{
    enum class When { Pause, Report, Wait };
    struct Row {
        const char *name;
        When when;
        std::string commands;
        std::size_t framesSent;
    };
    const Row rows[] = {
        {"during the pause after 0x46", When::Pause, "\x46", 0},
        {"in a word's report", When::Report, "\x46\x3F", 2},
        {"during an answer wait", When::Wait, "\x46\x3F", 3},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        VirtualKit kit(silentAfter(2));
        kit.reports.onWord = [&] {
            if (row.when == When::Report && kit.reports.words.size() == 2)
                kit.exchange.cancel(kit.now);
        };

        kit.exchange.startUpdate(kit.now, "/dev/kit", [] { return HexFile::parse(wordsFile(6)); });
        if (row.when == When::Pause) {
            kit.runUntil(50ms);
            kit.exchange.cancel(kit.now);
        }
        if (row.when == When::Wait) {
            kit.runUntil(400ms);
            kit.exchange.cancel(kit.now);
        }
        kit.run();
        kit.runUntil(kit.now + 10s);

        EXPECT_EQ(kit.kit.commandBytes(), row.commands);
        EXPECT_EQ(kit.kit.frames().size(), row.framesSent);
        EXPECT_EQ(kit.reports.statuses.back(), FailedStatus);
        EXPECT_TRUE(kit.reports.messages.empty());
        EXPECT_TRUE(contains(kit.reports.details.back(), "the kit must be updated again"));
        EXPECT_EQ(kit.reports.result->ending, ExchangeEnding::Stopped);
        EXPECT_EQ(std::count(kit.reports.events.begin(), kit.reports.events.end(), "finished"), 1);
        EXPECT_FALSE(kit.open);
    }
}

// Starting an exchange while one runs does nothing.
TEST(Update, NoInterleaving)
{
    VirtualKit kit;
    int refused = 0;
    kit.reports.onWord = [&] {
        refused += kit.exchange.startVersionQuery(kit.now, "/dev/kit") ? 0 : 1;
        refused += kit.exchange.startUpdate(kit.now, "/dev/kit", [] { return HexFile::parse(wordsFile(1)); }) ? 0 : 1;
    };

    kit.update(wordsFile(4));

    EXPECT_EQ(refused, 8);
    EXPECT_EQ(kit.kit.commandBytes(), "\x46\x3F");
    EXPECT_EQ(kit.kit.frames().size(), 4u);
    EXPECT_EQ(std::count(kit.reports.events.begin(), kit.reports.events.end(), "finished"), 1);
}

// One round trip per word and nothing more: no timer is set again for a word
// while the one running fires before its deadline.
TEST(Update, NoTimerPerWord)
{
    VirtualKit kit(answeringFramesAfter(1000));
    kit.update(wordsFile(3000));
    EXPECT_EQ(kit.kit.frames().size(), 3000u);
    EXPECT_LE(kit.timersArmed, 5);
}

// What the kit's answers cost per word, for the latency hint.
TEST(Update, MedianAnswerWait)
{
    for (const int delayUs : {0, 16000}) {
        VirtualKit kit(answeringFramesAfter(delayUs));
        kit.update(wordsFile(5));
        EXPECT_EQ(kit.reports.result->medianAnswerWait, std::chrono::microseconds(delayUs));
    }
}

// Words that the kit does not receive cost nothing, but a long run of them
// lets the driver's other events in now and then.
TEST(Update, LongRunsOfWordsOutsideTheWindow)
{
    std::string text = ":020000040001F9\n"; // a base that moves every word out of the kit
    for (int w = 0; w < 6000; ++w)
        text += wordRecord(std::uint16_t(w), 0x1234);
    text += ":020000040000FA\n" + wordRecord(5, 0x5555) + ":00000001FF\n";
    VirtualKit kit;

    kit.update(text);

    EXPECT_EQ(kit.reports.words.size(), 6001u);
    EXPECT_EQ(kit.frames(), Strings{"0005=5555"});
    EXPECT_GE(kit.timersArmed, 3); // the pause, the version's deadline, and a break
    EXPECT_EQ(kit.reports.result->ending, ExchangeEnding::Done);
}

TEST(Profile, WriteWindow)
{
    const std::pair<std::uint32_t, bool> rows[] = {
        {0x0000, true},  {0x1EFF, true},  {0x1F00, false}, {0x1FDF, false},   {0x1FE0, true},
        {0x1FFE, true},  {0x1FFF, false}, {0x2000, false}, {0x11EFF, false}, {0xFFFFFFFF, false},
    };
    for (const auto &[address, written] : rows)
        EXPECT_EQ(StandardKit.writes(address), written) << std::hex << address;
}
