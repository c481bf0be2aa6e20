// The one window of the tool. Its procedures keep the names the kit's users
// and its documentation know; the work itself is done in device/ and hexfile/.
#pragma once

#include "LinkReports.h"
#include "ProgressRules.h"

#include <QWidget>
#include <memory>
#include <optional>

class KitLink;
class MSComm100;
struct HexImage;
struct PortChoice;
class PickCombo;
class PortNumbering;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QToolButton;
class SeparatorLine;
class SettingsStore;
class StatusBar;
class UserDialogs;

class UpdaterWindow : public QWidget, private LinkReports {
    Q_OBJECT

public:
    // appDir: the program's folder with its trailing separator (for LOG.txt).
    UpdaterWindow(const QString &appDir, SettingsStore &settings, UserDialogs &dialogs, QWidget *parent = nullptr);
    ~UpdaterWindow() override;

    // Event procedures; they may also be called directly.
    void OKButton_Click();
    void Combo_ComPort_Click();
    void Combo_speed_Click();
    void CmdVersion_Click();
    void CmdOpen_Click();
    void CmdUpdate_Click();

    // Window procedures.
    void msgCmt(const QString &cmt1);
    void msgProgressBar(const QString &pmode, double pmin, double pmax, double ppos);

    QString hexFileName() const { return m_hexFileName; }
    bool commError() const;
    const ProgressState &progressState() const { return m_progress; }
    // True while a version query or an update runs.
    bool exchangeRunning() const;

signals:
    // A version query or an update has ended.
    void exchangeEnded();

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void createControls();
    void wireEvents();
    void setTabOrder();
    void Form_Load();
    void Form_Unload();
    void emptyLogFile();
    QString describePort(const QString &portText) const;
    void updatePortToolTip();
    void updatePortToolTips();
    // The port and speed of the two boxes, for the exchange about to start.
    std::optional<PortChoice> Com_Initialize();
    // Reads and checks the HEX file once the handshake has succeeded.
    HexImage File_Load(const QString &file_name);
    void recordInHistory(const LinkResult &result);

    // LinkReports
    void statusText(const QString &text) override;
    void failureDetail(const QString &reason) override;
    void versionRead(const QString &version) override;
    void wordWritten(const WordProgress &progress) override;
    void progressReset() override;
    void message(LinkMessage message) override;
    void concluded(const LinkResult &result) override;
    void finished(const LinkResult &result) override;

    QString m_appDir;
    SettingsStore &m_settings;
    UserDialogs &m_dialogs;
    std::unique_ptr<MSComm100> m_comm;
    std::unique_ptr<KitLink> m_link;
    std::unique_ptr<PortNumbering> m_ports;

    QString m_hexFileName;
    ProgressState m_progress;
    bool m_closeRequested = false;
    // Of the update that runs: the port text it started with, and the file's digest once read.
    QString m_updatePortText;
    QString m_updateFile;
    QString m_updateSha256;

    QLabel *m_label1 = nullptr;
    PickCombo *m_comboComPort = nullptr;
    QPushButton *m_okButton = nullptr;
    QLabel *m_label2 = nullptr;
    PickCombo *m_comboSpeed = nullptr;
    SeparatorLine *m_line1 = nullptr;
    SeparatorLine *m_line2 = nullptr;
    QLabel *m_label3 = nullptr;
    QToolButton *m_cmdVersion = nullptr;
    QPlainTextEdit *m_textFirmwareVersion = nullptr;
    QToolButton *m_cmdOpen = nullptr;
    QPlainTextEdit *m_textFile = nullptr;
    QToolButton *m_cmdUpdate = nullptr;
    QProgressBar *m_progressBar1 = nullptr;
    StatusBar *m_statusBar1 = nullptr;
};
