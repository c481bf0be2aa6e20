// kitupdater-cli.exe as a Windows user meets it, run under Wine: its texts in
// a console of code page 932, file names outside the ANSI code page, COM
// ports by their names, the latency hint, its icon and version. ctest runs it
// in a Western locale and in a Japanese one (KITUPDATER_TEST_ANSI_CODE_PAGE:
// the code page Windows must have then). KITUPDATER_TEST_KIT_PORT names a COM
// port whose simulated kit answers each word after 16 ms, as through an FTDI
// adapter (scripts/windows.sh provides it); without it the kit's cases skip.
#include "CliProcess.h"
#include "ExpectedTexts.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <windows.h>

using namespace Expected;

namespace {

// Two words, both inside the write window.
const QByteArray TwoWordFile(":020000040000FA\r\n:0400100034127856D8\r\n:00000001FF\r\n");

QString cliPath() { return QDir::toNativeSeparators(QStringLiteral(KITUPDATER_CLI_PATH)); }

int kitPort() { return qEnvironmentVariableIntValue("KITUPDATER_TEST_KIT_PORT"); }

// A console of its own for the program, as a Command Prompt gives it: code
// page 932 as on a Japanese Windows, lines wide enough that none wraps.
class JapaneseConsole {
public:
    JapaneseConsole()
    {
        FreeConsole();
        m_ok = AllocConsole() && SetConsoleOutputCP(932);
        m_screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               &m_inherited, OPEN_EXISTING, 0, nullptr);
        m_ok = m_ok && m_screen != INVALID_HANDLE_VALUE && SetConsoleScreenBufferSize(m_screen, {Width, Rows});
    }
    ~JapaneseConsole()
    {
        CloseHandle(m_screen);
        FreeConsole();
    }
    bool ok() const { return m_ok; }

    // Runs the program with its output on this console; returns its exit code.
    int run(const QString &arguments)
    {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = m_screen;
        startup.hStdError = m_screen;
        std::wstring command = (QLatin1Char('"') + cliPath() + QStringLiteral("\" ") + arguments).toStdWString();
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
            return -1;
        DWORD exitCode = DWORD(-1);
        if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
            GetExitCodeProcess(process.hProcess, &exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return int(exitCode);
    }

    // What the screen shows, a line per row, without the blanks after it.
    QStringList rows() const
    {
        QStringList rows;
        for (SHORT row = 0; row < Rows; ++row) {
            wchar_t text[Width];
            DWORD read = 0;
            ReadConsoleOutputCharacterW(m_screen, text, Width, {0, row}, &read);
            QString line = QString::fromWCharArray(text, int(read));
            while (line.endsWith(QLatin1Char(' ')))
                line.chop(1);
            rows << line;
        }
        while (!rows.isEmpty() && rows.last().isEmpty())
            rows.removeLast();
        return rows;
    }

private:
    static constexpr SHORT Width = 400;
    static constexpr SHORT Rows = 60;
    SECURITY_ATTRIBUTES m_inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE m_screen = INVALID_HANDLE_VALUE;
    bool m_ok = false;
};

QString versionText(const QString &program, const QString &name)
{
    const std::wstring path = program.toStdWString();
    DWORD ignored = 0;
    QByteArray info(int(GetFileVersionInfoSizeW(path.c_str(), &ignored)), '\0');
    void *value = nullptr;
    UINT length = 0;
    const std::wstring key = (QStringLiteral("\\StringFileInfo\\040904B0\\") + name).toStdWString();
    if (info.isEmpty() || !GetFileVersionInfoW(path.c_str(), 0, DWORD(info.size()), info.data())
        || !VerQueryValueW(info.constData(), key.c_str(), &value, &length) || length == 0)
        return QString();
    return QString::fromWCharArray(static_cast<const wchar_t *>(value), int(length) - 1);
}

} // namespace

class CliWindowsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void namesOutsideTheCodePage_data();
    void namesOutsideTheCodePage();
    void japaneseInTheConsole();
    void updateInTheConsole();
    void comPortNames_data();
    void comPortNames();
    void mapToAComPort();
    void iconAndVersion();

private:
    // Lines as a script reads them: the C library ends them with CR LF here.
    CliRun run(const QStringList &arguments) const
    {
        CliRun result = runCli(QStringList{cliPath()} + arguments, QProcessEnvironment::systemEnvironment());
        for (QString &line : result.out)
            line.remove(QLatin1Char('\r'));
        result.err.remove(QLatin1Char('\r'));
        return result;
    }
    QString writeHexFile(const QString &folder) const;

    QTemporaryDir m_files;
};

// The locale run must really be under the code page it stands for.
void CliWindowsTest::initTestCase()
{
    QVERIFY(m_files.isValid());
    const int codePage = qEnvironmentVariableIntValue("KITUPDATER_TEST_ANSI_CODE_PAGE");
    QVERIFY2(codePage == 0 || int(GetACP()) == codePage, qPrintable(QString::number(GetACP())));
}

QString CliWindowsTest::writeHexFile(const QString &folder) const
{
    const QString path = m_files.filePath(folder + QStringLiteral("/kit.hex"));
    QDir().mkpath(m_files.filePath(folder));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(TwoWordFile) != TwoWordFile.size())
        return QString();
    return QDir::toNativeSeparators(path);
}

// Whatever the ANSI code page cannot spell (Japanese in a Western one,
// accented letters and Hangul in the Japanese one) reaches the program whole;
// the reason for a refused file names it whole, in UTF-8 through the pipe.
void CliWindowsTest::namesOutsideTheCodePage_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("Japanese") << QStringLiteral("ファームウエア");
    QTest::newRow("accented letter") << QStringLiteral("José");
    QTest::newRow("Hangul") << QStringLiteral("한글");
}
void CliWindowsTest::namesOutsideTheCodePage()
{
    QFETCH(QString, folder);
    const QString file = writeHexFile(folder);
    QVERIFY(!file.isEmpty());

    const CliRun checked = run({QStringLiteral("check"), file});
    const QString missing = QDir::toNativeSeparators(m_files.filePath(folder + QStringLiteral("/missing.hex")));
    const CliRun refused = run({QStringLiteral("check"), missing});

    QCOMPARE(checked.exitCode, 0);
    QCOMPARE(checked.out, (QStringList{"words to send: 2", "words outside the write window: 0"}));
    QCOMPARE(refused.exitCode, 3);
    QVERIFY2(refused.err.startsWith(missing + QStringLiteral(": cannot open \"") + missing + QStringLiteral("\"")),
             qPrintable(refused.err));
}

// The console shows the status text itself, not its UTF-8 bytes read as
// code page 932.
void CliWindowsTest::japaneseInTheConsole()
{
    JapaneseConsole console;
    QVERIFY(console.ok());

    const int exitCode = console.run(QStringLiteral("--port 20 version"));

    QCOMPARE(exitCode, 1);
    QVERIFY2(console.rows().contains(PortOpenFailedStatus), qPrintable(console.rows().join(QLatin1Char('\n'))));
}

// An update as a user sees it in a console: the status texts, the box text,
// the latency line with Windows' way to shorten it, and no escape code shown
// as text (Wine's console takes the mode that turns them on, yet prints them);
// then the update in the history.
void CliWindowsTest::updateInTheConsole()
{
    if (kitPort() == 0)
        QSKIP("no simulated kit behind a COM port (KITUPDATER_TEST_KIT_PORT)");
    const QString file = writeHexFile(QStringLiteral("console"));
    JapaneseConsole console;
    QVERIFY(console.ok());

    const int exitCode = console.run(QStringLiteral("--port %1 update \"%2\"").arg(kitPort()).arg(file));

    const QStringList rows = console.rows();
    const QString screen = rows.join(QLatin1Char('\n'));
    QCOMPARE(exitCode, 0);
    QVERIFY2(rows.contains(UpdatingStatus) && rows.contains(DoneStatus), qPrintable(screen));
    QVERIFY2(rows.contains(DoneMessage.section(QStringLiteral("\r\n"), 0, 0)), qPrintable(screen));
    const QRegularExpression latencyLine(QStringLiteral(
        "^kitupdater-cli: the kit answered each word after \\d+\\.\\d ms \\(median\\), 0\\.\\d s of waiting for 2 words: "
        "the USB serial adapter's latency timer holds its answers\\. Set it to 1 ms: Device Manager > Ports "
        "\\(COM & LPT\\) > the port > Properties > Port Settings > Advanced > Latency Timer\\.$"));
    QVERIFY2(!rows.filter(latencyLine).isEmpty(), qPrintable(screen));
    QVERIFY2(!screen.contains(QLatin1Char('\x1b')) && !screen.contains(QLatin1String("[1F")), qPrintable(screen));
    // The history names the file as Windows does.
    const CliRun history = run({QStringLiteral("history"), QStringLiteral("-n"), QStringLiteral("1")});
    QVERIFY2(history.out.value(0).endsWith(QStringLiteral(" ms  ") + file), qPrintable(history.out.value(0)));
}

// Windows' own names of a COM port, as every serial tool there takes them.
void CliWindowsTest::comPortNames_data()
{
    QTest::addColumn<QString>("name"); // %1: the port's number
    QTest::newRow("COM5") << QStringLiteral("COM%1");
    QTest::newRow("com5") << QStringLiteral("com%1");
    QTest::newRow("\\\\.\\COM12") << QStringLiteral("\\\\.\\COM%1");
}
void CliWindowsTest::comPortNames()
{
    QFETCH(QString, name);
    if (kitPort() == 0)
        QSKIP("no simulated kit behind a COM port (KITUPDATER_TEST_KIT_PORT)");

    const CliRun result = run({QStringLiteral("-q"), QStringLiteral("--port"), name.arg(kitPort()),
                               QStringLiteral("version")});

    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, QStringList{QStringLiteral("KIT-FW Ver1.00  ")});
}

// The mapping keeps the port by Windows' name for it. The test takes the
// mapping away again: the settings are those of the Wine prefix's user.
void CliWindowsTest::mapToAComPort()
{
    const CliRun mapped = run({QStringLiteral("map"), QStringLiteral("17"), QStringLiteral("com5")});
    const CliRun unmapped = run({QStringLiteral("unmap"), QStringLiteral("17")});
    const CliRun refused = run({QStringLiteral("map"), QStringLiteral("17"), QStringLiteral("ttyUSB0")});

    QCOMPARE(mapped.exitCode, 0);
    QCOMPARE(mapped.out, QStringList{QStringLiteral("17=COM5")});
    QCOMPARE(unmapped.out, QStringList{QStringLiteral("17 unmapped (was COM5)")});
    QCOMPARE(refused.exitCode, 2);
    QVERIFY2(refused.err.startsWith(QStringLiteral("kitupdater-cli: DEVICE is a COM port such as COM5, not 'ttyUSB0'")),
             qPrintable(refused.err));
}

// Explorer and the file's properties show what they show for kitupdater.exe.
void CliWindowsTest::iconAndVersion()
{
    QCOMPARE(versionText(cliPath(), QStringLiteral("FileDescription")),
             QStringLiteral("kitupdater-cli: firmware updater for the kit, command line"));
    QCOMPARE(versionText(cliPath(), QStringLiteral("ProductVersion")), QStringLiteral("1.0.0"));
    QCOMPARE(versionText(cliPath(), QStringLiteral("OriginalFilename")), QStringLiteral("kitupdater-cli.exe"));
    QVERIFY(ExtractIconExW(cliPath().toStdWString().c_str(), -1, nullptr, nullptr, 0) >= 1);
}

QTEST_GUILESS_MAIN(CliWindowsTest)
#include "tst_cli_windows.moc"
