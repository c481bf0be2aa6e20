#include "UpdaterWindow.h"

#include "Controls.h"
#include "HexFileChoice.h"
#include "HexFile.h"
#include "KitLink.h"
#include "KitProfile.h"
#include "MSComm100.h"
#include "PortMap.h"
#include "QtSerialLine.h"
#include "SerialAdapters.h"
#include "SettingsStore.h"
#include "Texts.h"
#include "UpdateHistory.h"
#include "UserDialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>

// The pictures live in this static library; make sure they are registered.
static void registerPictures() { Q_INIT_RESOURCE(pictures); }

namespace {

const QString ComKey = QStringLiteral("Com");
const QString SpeedKey = QStringLiteral("Speed");

// The client area: 8085 x 5700 twips.
constexpr int ClientWidthTwips = 8085;
constexpr int ClientHeightTwips = 5700;
// Line2 lies this far right of and below Line1, drawing an engraved separator.
constexpr double EngraveOffsetTwips = 20;

} // namespace

UpdaterWindow::UpdaterWindow(const QString &appDir, SettingsStore &settings, UserDialogs &dialogs, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint),
      m_appDir(appDir), m_settings(settings), m_dialogs(dialogs),
      m_comm(std::make_unique<MSComm100>(std::make_unique<QtSerialLine>())),
      m_link(std::make_unique<KitLink>(*m_comm, StandardKit, static_cast<LinkReports &>(*this))),
      m_ports(std::make_unique<PortNumbering>(settings, PortRange{StandardKit.firstPortNumber, StandardKit.lastPortNumber}))
{
    registerPictures();
    setObjectName(QStringLiteral("UpdaterWindow"));
    setWindowTitle(Texts::WindowCaption);
    setWindowIcon(picture(QStringLiteral("update")));
    setFont(userInterfaceFont());
    const QRect client = twipsRect(0, 0, ClientWidthTwips, ClientHeightTwips);
    setFixedSize(client.size());
    createControls();
    wireEvents();
    setTabOrder();
    Form_Load();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

UpdaterWindow::~UpdaterWindow() = default;

void UpdaterWindow::createControls()
{
    m_label1 = makeLabel(this, "Label1", Texts::PortLabel, twipsRect(135, 180, 1545, 195));
    m_comboComPort = makeCombo(this, "Combo_ComPort", twipsRect(1800, 135, 1365, 300));
    m_label1->setBuddy(m_comboComPort); // names the box for screen readers
    m_okButton = new QPushButton(Texts::CloseButton, this);
    m_okButton->setObjectName(QStringLiteral("OKButton"));
    m_okButton->setGeometry(twipsRect(6480, 225, 1500, 420));
    m_label2 = makeLabel(this, "Label2", Texts::SpeedLabel, twipsRect(135, 540, 1770, 195));
    m_comboSpeed = makeCombo(this, "Combo_speed", twipsRect(1800, 495, 1365, 300));
    m_label2->setBuddy(m_comboSpeed);
    m_line1 = new SeparatorLine(QColor(128, 128, 128), this);
    m_line1->setObjectName(QStringLiteral("Line1"));
    m_line1->setEnds({45, 945}, {8010, 945});
    m_line2 = new SeparatorLine(QColor(255, 255, 255), this);
    m_line2->setObjectName(QStringLiteral("Line2"));
    m_line2->setEnds({45, 1035}, {8055, 1035});
    m_label3 = makeLabel(this, "Label3", QStringLiteral("Label3"), twipsRect(135, 1080, 7890, 1590));
    m_cmdVersion = makePictureButton(this, "CmdVersion", Texts::VersionButton, picture(QStringLiteral("chip")),
                                     twipsRect(90, 2700, 1185, 780));
    m_textFirmwareVersion = makeTextBox(this, "Text_FirmwareVersion", Texts::FirmwareVersionBoxName,
                                        twipsRect(1350, 2700, 6630, 780));
    m_cmdOpen = makePictureButton(this, "CmdOpen", Texts::OpenButton, picture(QStringLiteral("folder")),
                                  twipsRect(90, 3555, 1185, 780));
    m_textFile = makeTextBox(this, "Text_File", Texts::FileBoxName, twipsRect(1350, 3555, 6630, 780));
    // The window icon's picture: one SVG document, read once.
    m_cmdUpdate = makePictureButton(this, "CmdUpdate", Texts::UpdateButton, windowIcon(),
                                    twipsRect(90, 4410, 1185, 780));
    m_cmdUpdate->setEnabled(false);
    m_progressBar1 = new QProgressBar(this);
    m_progressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    m_progressBar1->setAccessibleName(Texts::ProgressBarName);
    m_progressBar1->setGeometry(twipsRect(1350, 4410, 6630, 780));
    m_progressBar1->setOrientation(Qt::Horizontal);
    m_progressBar1->setRange(0, 100);
    m_progressBar1->setValue(0);
    m_progressBar1->setTextVisible(false);
    m_progressBar1->setFocusPolicy(Qt::NoFocus);
    m_statusBar1 = new StatusBar(this);
    m_statusBar1->setObjectName(QStringLiteral("StatusBar1"));
    m_statusBar1->setGeometry(twipsRect(0, 5280, 8085, 420));
    m_statusBar1->setFont(msPGothic(9.75));
}

void UpdaterWindow::wireEvents()
{
    connect(m_okButton, &QPushButton::clicked, this, &UpdaterWindow::OKButton_Click);
    // Only a choice of the user from the list (mouse, arrow keys, wheel), never
    // typing or text set by the program.
    connect(m_comboComPort, &PickCombo::picked, this, &UpdaterWindow::Combo_ComPort_Click);
    connect(m_comboSpeed, &PickCombo::picked, this, &UpdaterWindow::Combo_speed_Click);
    connect(m_comboComPort, &QComboBox::editTextChanged, this, &UpdaterWindow::updatePortToolTip);
    connect(m_cmdVersion, &QToolButton::clicked, this, &UpdaterWindow::CmdVersion_Click);
    connect(m_cmdOpen, &QToolButton::clicked, this, &UpdaterWindow::CmdOpen_Click);
    connect(m_cmdUpdate, &QToolButton::clicked, this, &UpdaterWindow::CmdUpdate_Click);
}

void UpdaterWindow::setTabOrder()
{
    const QList<QWidget *> order{m_okButton,         m_cmdOpen,  m_cmdUpdate,           m_comboComPort,
                                 m_cmdVersion,       m_textFile, m_textFirmwareVersion, m_comboSpeed};
    for (int i = 0; i + 1 < order.size(); ++i)
        QWidget::setTabOrder(order.at(i), order.at(i + 1));
    m_okButton->setFocus(Qt::OtherFocusReason);
}

void UpdaterWindow::Form_Load()
{
    m_line2->setEnds(m_line1->from() + QPointF(EngraveOffsetTwips, EngraveOffsetTwips),
                     m_line1->to() + QPointF(EngraveOffsetTwips, EngraveOffsetTwips));
    // From here on a failing step is skipped and the next one runs.
    emptyLogFile();
    for (int port = StandardKit.firstPortNumber; port <= StandardKit.lastPortNumber; ++port)
        m_comboComPort->addItem(QString::number(port));
    // An adapter plugged in now gets its number (and the entries their tooltips) at once.
    connect(m_ports.get(), &PortNumbering::changed, this, &UpdaterWindow::updatePortToolTips);
    m_comboComPort->setEditText(m_settings.setting(ComKey, QStringLiteral("?")));
    for (const SpeedChoice &speed : StandardKit.speeds)
        m_comboSpeed->addItem(QString::fromLatin1(speed.boxText));
    m_comboSpeed->setEditText(QStringLiteral("9600"));
    m_hexFileName.clear();
    m_label3->setText(Texts::notice<QString>());
    updatePortToolTips();
}

void UpdaterWindow::emptyLogFile()
{
    QFile log(m_appDir + QStringLiteral("LOG.txt"));
    if (log.open(QIODevice::WriteOnly | QIODevice::Truncate))
        log.write("\r\n");
}

QString UpdaterWindow::describePort(const QString &portText) const
{
    const std::optional<int> number = parsePortNumber(portText);
    return number ? m_ports->describe(*number) : QString();
}

// The box names the device of the text it shows.
void UpdaterWindow::updatePortToolTip() { m_comboComPort->setToolTip(describePort(m_comboComPort->currentText())); }

// Each entry of the port list names its device; they change only when the
// adapters or their numbers do, not with what is typed.
void UpdaterWindow::updatePortToolTips()
{
    for (int entry = 0; entry < m_comboComPort->count(); ++entry)
        m_comboComPort->setEntryToolTip(entry, describePort(m_comboComPort->itemText(entry)));
    updatePortToolTip();
}

void UpdaterWindow::OKButton_Click() { close(); }

void UpdaterWindow::Combo_ComPort_Click() { m_settings.setSetting(ComKey, m_comboComPort->currentText()); }

void UpdaterWindow::Combo_speed_Click() { m_settings.setSetting(SpeedKey, m_comboSpeed->currentText()); }

// The port box's text as a device, the speed box's text as line settings
// (none when it is no entry of the list: the port keeps the settings it has).
// A text that leads to no port stops the exchange with a status text.
std::optional<PortChoice> UpdaterWindow::Com_Initialize()
{
    const QString portText = m_comboComPort->currentText();
    if (portText.isEmpty()) {
        m_dialogs.information(Texts::SetPortNumber);
        return std::nullopt;
    }
    m_link->closePort();
    const std::optional<int> number = parsePortNumber(portText);
    if (!number) {
        msgCmt(Texts::PortNotANumber);
        failureDetail(QStringLiteral("\"%1\" is not a port number").arg(portText));
        return std::nullopt;
    }
    const QString device = m_ports->devicePath(*number);
    if (device.isEmpty()) {
        msgCmt(Texts::PortRefused);
        failureDetail(QStringLiteral("port number %1 names no serial device").arg(*number));
        return std::nullopt;
    }
    return PortChoice{device, lineSettingsFor(StandardKit, m_comboSpeed->currentText())};
}

void UpdaterWindow::CmdVersion_Click()
{
    if (m_link->busy())
        return;
    msgCmt(QString());
    if (const std::optional<PortChoice> port = Com_Initialize())
        m_link->startVersionQuery(*port);
}

void UpdaterWindow::CmdUpdate_Click()
{
    if (m_link->busy())
        return;
    if (m_comboComPort->currentText().isEmpty()) {
        m_dialogs.information(Texts::SetPortNumber);
        return;
    }
    msgCmt(QString());
    if (m_hexFileName.isEmpty()) {
        msgCmt(Texts::NoFileLoaded);
        return;
    }
    const std::optional<PortChoice> port = Com_Initialize();
    if (!port)
        return;
    m_updatePortText = m_comboComPort->currentText();
    m_updateFile = m_hexFileName;
    m_updateSha256.clear();
    m_link->startUpdate(*port, [this] { return File_Load(m_updateFile); });
}

HexImage UpdaterWindow::File_Load(const QString &file_name)
{
    HexImage image = HexFile::read(file_name);
    m_updateSha256 = QString::fromStdString(image.sha256);
    return image;
}

void UpdaterWindow::CmdOpen_Click()
{
    if (m_link->busy()) // the exchange that runs keeps its file
        return;
    if (m_comboComPort->currentText().isEmpty()) {
        m_dialogs.information(Texts::SetPortNumber);
        return;
    }
    const QString path = m_dialogs.openFile(HexFileChoice::request(m_settings));
    if (path.isEmpty())
        return;
    m_hexFileName = path;
    m_textFile->setPlainText(QDir::toNativeSeparators(m_hexFileName));
    HexFileChoice::rememberFolder(m_settings, path);
    msgCmt(Texts::fileChosen(HexFileChoice::fileTitle(path)));
    m_cmdUpdate->setEnabled(true);
}

void UpdaterWindow::msgCmt(const QString &cmt1)
{
    QLabel *panel = m_statusBar1->messagePanel();
    panel->setText(cmt1);
    panel->setToolTip(QString()); // a reason belongs to the message it came with
}

void UpdaterWindow::msgProgressBar(const QString &pmode, double pmin, double pmax, double ppos)
{
    const ProgressRules::Effect effect = ProgressRules::apply(m_progress, pmode, pmin, pmax, ppos);
    if (effect == ProgressRules::Effect::Unchanged)
        return;
    m_progressBar1->setRange(qRound(m_progress.minimum), qRound(m_progress.maximum));
    m_progressBar1->setValue(qRound(m_progress.value));
    m_progressBar1->setVisible(m_progress.visible);
    if (effect == ProgressRules::Effect::Reset)
        QCoreApplication::processEvents();
}

bool UpdaterWindow::commError() const { return m_link->commError(); }

bool UpdaterWindow::exchangeRunning() const { return m_link->busy(); }

// The keys that no control took, as in Qt's dialogs. OKButton is the window's
// cancel button: Esc presses it. It is not a window-wide shortcut: in Qt 6.4
// such a shortcut also takes the Esc that closes an opened port or speed list,
// and closed the window in the middle of an update. The opened list takes its
// Esc itself, and it never comes here. Return and Enter press the focused
// button, as on Windows; Qt's buttons outside a dialog answer Space only.
void UpdaterWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Cancel)) {
        m_okButton->animateClick();
        return;
    }
    const bool returnKey = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    auto *button = qobject_cast<QAbstractButton *>(focusWidget());
    if (returnKey && button) {
        button->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void UpdaterWindow::closeEvent(QCloseEvent *event)
{
    if (m_link->busy()) {
        // Stop the running exchange; the window closes once it has ended.
        m_closeRequested = true;
        m_link->cancel();
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

void UpdaterWindow::Form_Unload() { m_link->closePort(); }

// ---- what the exchanges report ----

void UpdaterWindow::statusText(const QString &text) { msgCmt(text); }

void UpdaterWindow::failureDetail(const QString &reason) { m_statusBar1->messagePanel()->setToolTip(reason); }

void UpdaterWindow::versionRead(const QString &version) { m_textFirmwareVersion->setPlainText(version); }

void UpdaterWindow::wordWritten(const WordProgress &progress)
{
    msgProgressBar(QStringLiteral("on"), 0, StandardKit.progressMaximum, progress.address);
}

void UpdaterWindow::progressReset() { msgProgressBar(QStringLiteral("off"), 0, 0, 0); }

void UpdaterWindow::message(LinkMessage message) { m_dialogs.information(messageText(message)); }

// Before the closing message box, which may stay open for any time, and
// which the user's logout may end with the window: the history keeps the
// update with its own time in any case.
void UpdaterWindow::concluded(const LinkResult &result)
{
    if (result.update)
        recordInHistory(result);
}

void UpdaterWindow::finished(const LinkResult &)
{
    emit exchangeEnded();
    if (m_closeRequested)
        QTimer::singleShot(0, this, &QWidget::close);
}

// A history that cannot be written never fails the update: the reason joins
// the status line's tooltip.
void UpdaterWindow::recordInHistory(const LinkResult &result)
{
    UpdateRecord record = historyRecord(result);
    record.program = QStringLiteral("kitupdater");
    record.port = m_updatePortText;
    record.serial = m_ports->entryOf(result.devicePath).serialNumber;
    record.file = QDir::toNativeSeparators(QFileInfo(m_updateFile).absoluteFilePath());
    record.sha256 = m_updateSha256;
    const QString error = UpdateHistory::append(record);
    if (error.isEmpty())
        return;
    QLabel *panel = m_statusBar1->messagePanel();
    const QString shown = panel->toolTip();
    panel->setToolTip(shown.isEmpty() ? error : shown + QLatin1Char('\n') + error);
}
