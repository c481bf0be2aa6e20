// Shared by the device tests: a host that records what the user would see, and
// a kit simulated on a pseudo-terminal that port number 7 maps to.
#pragma once

#include "DeviceHost.h"
#include "KitLink.h"
#include "HexWriter.h"
#include "KitSimulator.h"
#include "MSComm100.h"
#include "SettingsStore.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QVector>
#include <functional>
#include <memory>

struct ProgressCall {
    QString mode;
    double min;
    double max;
    double pos;
    bool operator==(const ProgressCall &o) const
    {
        return mode == o.mode && min == o.min && max == o.max && pos == o.pos;
    }
};

class RecordingHost : public DeviceHost {
public:
    QStringList statuses;
    QStringList messages;
    QStringList versions;
    QStringList failureDetails;
    QVector<ProgressCall> progress;
    bool cancel = false;
    std::function<void()> onProgress; // runs inside every progress call

    void msgCmt(const QString &cmt1) override { statuses << cmt1; }
    void msgProgressBar(const QString &pmode, double pmin, double pmax, double ppos) override
    {
        progress.append({pmode, pmin, pmax, ppos});
        if (onProgress)
            onProgress();
    }
    void showMessage(const QString &text) override { messages << text; }
    void showFirmwareVersion(const QString &version) override { versions << version; }
    void processEvents() override { QCoreApplication::processEvents(); }
    bool cancelRequested() const override { return cancel; }
    void showFailureDetail(const QString &reason) override { failureDetails << reason; }
};

constexpr int SimPortNumber = 7;

// A started kit, a settings file that maps port 7 to it, the port and the link.
class SimulatedKitLine {
public:
    explicit SimulatedKitLine(const KitSimConfig &config = {}) : kit(config)
    {
        kit.start();
        settings = storeMapping({{SimPortNumber, kit.slavePath()}});
        port = std::make_unique<MSComm100>(*settings);
        link = std::make_unique<KitLink>(*port, host);
    }

    // A settings file in the temporary folder with these "Ports" entries.
    std::unique_ptr<SettingsStore> storeMapping(const QVector<QPair<int, QString>> &ports)
    {
        const QString path = dir.filePath(QStringLiteral("settings%1.ini").arg(++m_storeCount));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(path));
        file.write("[Ports]\n");
        for (const auto &entry : ports)
            file.write(QStringLiteral("%1=%2\n").arg(entry.first).arg(entry.second).toUtf8());
        file.close();
        return std::make_unique<SettingsStore>(path);
    }

    QString writeFile(const QString &name, const QByteArray &content)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(path));
        file.write(content);
        return path;
    }

    QTemporaryDir dir;
    KitSimulator kit;
    std::unique_ptr<SettingsStore> settings;
    std::unique_ptr<MSComm100> port;
    RecordingHost host;
    std::unique_ptr<KitLink> link;

private:
    int m_storeCount = 0;
};

// A data record holding one program word (low byte first) at word address w.
inline QByteArray wordRecord(quint16 wordAddress, quint16 value)
{
    const char bytes[] = {char(value & 0xFF), char(value >> 8)};
    return HexWriter::record(quint16(wordAddress * 2), 0x00, QByteArray(bytes, 2));
}
