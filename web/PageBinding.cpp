// The core as the web page uses it. The page's JavaScript hands the exchange
// what happens (bytes that arrived, a timer that fired, a port that was lost)
// and the exchange asks the page to write, to arm its timer and to show what
// it reports, through the object given to PageExchange. Nothing here waits:
// the browser's event loop runs everything.
#include "HexImage.h"
#include "KitExchange.h"
#include "KitProfile.h"
#include "KitTexts.h"
#include "SimulatedKit.h"

#include <emscripten/bind.h>
#include <emscripten/emscripten.h>
#include <emscripten/val.h>

#include <chrono>
#include <string>
#include <utility>

using emscripten::val;

namespace {

// The page's clock (performance.now()), monotonic, in the core's unit.
Instant now()
{
    return std::chrono::duration_cast<Instant>(std::chrono::duration<double, std::milli>(emscripten_get_now()));
}

// The page answers a line request with nothing, or with why it failed.
void throwIfFailed(const val &failure)
{
    if (failure.isString())
        throw LineError(failure.as<std::string>());
}

std::string wholeNumber(double value) { return std::to_string(static_cast<long long>(value)); }

// A HEX file as the page took it: its bytes, unless it was too large to read
// or could not be read.
struct PageFile {
    std::string name;
    double size = 0;
    std::string content;
    std::string readError;
};

HexImage loadFile(const PageFile &file)
{
    if (file.size > double(HexFile::MaxFileSize))
        HexFile::refuseTooLarge(file.name, wholeNumber(file.size));
    if (!file.readError.empty())
        throw HexFileError("cannot read \"" + file.name + "\": " + file.readError);
    return HexFile::parse(file.content);
}

const char *endingName(ExchangeEnding ending)
{
    switch (ending) {
    case ExchangeEnding::Done: return "done";
    case ExchangeEnding::PortFailed: return "port-failed";
    case ExchangeEnding::CommError: return "comm-error";
    case ExchangeEnding::TimedOut: return "timed-out";
    case ExchangeEnding::Failed: return "failed";
    case ExchangeEnding::Rejected: return "rejected";
    case ExchangeEnding::Stopped: return "stopped";
    }
    return "";
}

val resultObject(const ExchangeResult &result)
{
    val object = val::object();
    object.set("update", result.update);
    object.set("ending", std::string(endingName(result.ending)));
    object.set("kitVersion", result.kitVersion);
    object.set("wordsSent", result.wordsSent);
    object.set("wordsToSend", result.wordsToSend);
    object.set("seconds", result.seconds);
    object.set("medianAnswerWaitUs", double(result.medianAnswerWait.count()));
    object.set("detail", result.detail);
    return object;
}

class PageExchange final : private ExchangeDriver, private ExchangeReports {
public:
    explicit PageExchange(val page) : m_page(std::move(page)), m_exchange(StandardKit, *this, *this) {}

    bool startVersionQuery(const std::string &portName) { return m_exchange.startVersionQuery(now(), portName); }

    bool startUpdate(const std::string &portName, const std::string &fileName, double fileSize,
                     const std::string &content, const std::string &readError)
    {
        PageFile file{fileName, fileSize, content, readError};
        return m_exchange.startUpdate(now(), portName, [file = std::move(file)] { return loadFile(file); });
    }

    void cancel() { m_exchange.cancel(now()); }
    bool busy() const { return m_exchange.busy(); }

    void bytesArrived(const std::string &bytes)
    {
        m_exchange.bytesArrived(now(), reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
    }
    void timerExpired() { m_exchange.timerExpired(now()); }
    void lineFailed(const std::string &reason) { m_exchange.lineFailed(now(), reason); }

private:
    // ExchangeDriver: opening a Web Serial port takes a promise, so the page
    // opens it before the exchange starts, and openLine() only checks it.
    void openLine() override { throwIfFailed(m_page.call<val>("openLine")); }
    void closeLine() override { m_page.call<void>("closeLine"); }
    void discardInput() override { m_page.call<void>("discardInput"); }
    void write(const std::uint8_t *bytes, std::size_t count) override
    {
        throwIfFailed(m_page.call<val>("write", val(emscripten::typed_memory_view(count, bytes))));
    }
    void armTimer(std::chrono::nanoseconds delay) override
    {
        m_page.call<void>("armTimer", std::chrono::duration<double, std::milli>(delay).count());
    }
    void cancelTimer() override { m_page.call<void>("cancelTimer"); }

    // ExchangeReports
    void statusText(const std::string &text) override { m_page.call<void>("statusText", text); }
    void failureDetail(const std::string &reason) override { m_page.call<void>("failureDetail", reason); }
    void versionRead(const std::string &version) override { m_page.call<void>("versionRead", version); }
    void wordWritten(const WordProgress &progress) override
    {
        m_page.call<void>("wordWritten", progress.sent, progress.toSend);
    }
    void progressReset() override { m_page.call<void>("progressReset"); }
    void message(LinkMessage message) override { m_page.call<void>("message", messageBoxText(message)); }
    void concluded(const ExchangeResult &result) override { m_page.call<void>("concluded", resultObject(result)); }
    void finished(const ExchangeResult &result) override { m_page.call<void>("finished", resultObject(result)); }

    val m_page;
    KitExchange m_exchange;
};

// The core's simulated kit for a page without a kit: its replies as steps,
// each with the bytes to give and the delay before them.
class PageSimulatedKit {
public:
    val receive(const std::string &bytes)
    {
        val steps = val::array();
        for (const SimulatedKit::Reply &reply :
             m_kit.receive(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size())) {
            for (const SimulatedKit::Step &step : reply.steps)
                steps.call<void>("push", stepObject(step));
        }
        return steps;
    }
    void lineStarted() { m_kit.lineStarted(); }

private:
    static val stepObject(const SimulatedKit::Step &step)
    {
        val object = val::object();
        object.set("delayUs", step.delayUs);
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(step.bytes.data());
        object.set("bytes", val(emscripten::typed_memory_view(step.bytes.size(), bytes)).call<val>("slice"));
        return object;
    }

    SimulatedKit m_kit;
};

// Every text the page shows, from the one place the window takes them from.
val texts()
{
    val t = val::object();
    const std::pair<const char *, std::string> all[] = {
        {"AppTitle", Texts::AppTitle},
        {"WindowCaption", Texts::WindowCaption},
        {"PortLabel", Texts::PortLabel},
        {"SpeedLabel", Texts::SpeedLabel},
        {"CloseButton", Texts::CloseButton},
        {"VersionButton", Texts::VersionButton},
        {"OpenButton", Texts::OpenButton},
        {"UpdateButton", Texts::UpdateButton},
        {"Notice", Texts::notice()},
        {"SetPortNumber", Texts::SetPortNumber},
        {"NoFileLoaded", Texts::NoFileLoaded},
        {"OpenDialogTitle", Texts::OpenDialogTitle},
        {"FirmwareVersionBoxName", Texts::FirmwareVersionBoxName},
        {"FileBoxName", Texts::FileBoxName},
        {"ProgressBarName", Texts::ProgressBarName},
    };
    for (const auto &[name, text] : all)
        t.set(name, text);
    return t;
}

std::string fileChosen(const std::string &fileName) { return Texts::fileChosen(fileName); }

// The speed list as the window shows it: the box text, and the speed it selects.
val speeds()
{
    val list = val::array();
    for (const SpeedChoice &choice : StandardKit.speeds) {
        val speed = val::object();
        speed.set("text", std::string(choice.boxText));
        speed.set("baudRate", std::stoi(choice.lineSettings));
        list.call<void>("push", speed);
    }
    return list;
}

double maxFileSize() { return double(HexFile::MaxFileSize); }

} // namespace

EMSCRIPTEN_BINDINGS(kitcore)
{
    emscripten::class_<PageExchange>("PageExchange")
        .constructor<val>()
        .function("startVersionQuery", &PageExchange::startVersionQuery)
        .function("startUpdate", &PageExchange::startUpdate)
        .function("cancel", &PageExchange::cancel)
        .function("busy", &PageExchange::busy)
        .function("bytesArrived", &PageExchange::bytesArrived)
        .function("timerExpired", &PageExchange::timerExpired)
        .function("lineFailed", &PageExchange::lineFailed);
    emscripten::class_<PageSimulatedKit>("SimulatedKit")
        .constructor<>()
        .function("receive", &PageSimulatedKit::receive)
        .function("lineStarted", &PageSimulatedKit::lineStarted);
    emscripten::function("texts", &texts);
    emscripten::function("fileChosen", &fileChosen);
    emscripten::function("speeds", &speeds);
    emscripten::function("maxFileSize", &maxFileSize);
}
