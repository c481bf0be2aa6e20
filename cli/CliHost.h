// The command line's side of an exchange: status texts on stdout, message
// texts on stderr, a progress bar on stderr when it is a terminal.
#pragma once

#include "DeviceHost.h"

#include <QTextStream>

class CliHost : public DeviceHost {
public:
    CliHost();

    void msgCmt(const QString &cmt1) override;
    void msgProgressBar(const QString &pmode, double pmin, double pmax, double ppos) override;
    void showMessage(const QString &text) override;
    void showFirmwareVersion(const QString &version) override;
    void processEvents() override;
    bool cancelRequested() const override { return m_cancelled; }
    void showFailureDetail(const QString &reason) override;

    void cancel() { m_cancelled = true; }
    QString firmwareVersion() const { return m_version; }

private:
    void endProgressLine();

    QTextStream m_out;
    QTextStream m_err;
    bool m_progressOnTerminal;
    bool m_progressShown = false;
    int m_lastPercent = -1;
    bool m_cancelled = false;
    QString m_version;
};
