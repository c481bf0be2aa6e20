// The one window of the tool. Its procedures keep the names the kit's users
// and its documentation know; the work itself is done in device/ and hexfile/.
#pragma once

#include "DeviceHost.h"
#include "ProgressRules.h"

#include <QWidget>
#include <memory>

class KitLink;
class MSComm100;
class PickCombo;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QToolButton;
class SeparatorLine;
class SettingsStore;
class StatusBar;
class UserDialogs;

class UpdaterWindow : public QWidget, private DeviceHost {
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
    void msgCmt(const QString &cmt1) override;
    void msgProgressBar(const QString &pmode, double pmin, double pmax, double ppos) override;

    QString hexFileName() const { return m_hexFileName; }
    bool commError() const;
    const ProgressState &progressState() const { return m_progress; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void createControls();
    void wireEvents();
    void setTabOrder();
    void Form_Load();
    void Form_Unload();
    void emptyLogFile();
    void updatePortToolTip();

    // DeviceHost
    void showMessage(const QString &text) override;
    void showFirmwareVersion(const QString &version) override;
    void processEvents() override;
    bool cancelRequested() const override { return m_closeRequested; }
    void showFailureDetail(const QString &reason) override;

    // Runs one exchange with the kit; a close asked for meanwhile is carried out after it.
    template <typename Exchange> void runExchange(Exchange exchange);

    QString m_appDir;
    SettingsStore &m_settings;
    UserDialogs &m_dialogs;
    std::unique_ptr<MSComm100> m_comm;
    std::unique_ptr<KitLink> m_link;

    QString m_hexFileName;
    ProgressState m_progress;
    bool m_closeRequested = false;

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
