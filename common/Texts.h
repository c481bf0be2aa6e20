// Every text the user sees, in one place, exactly as the kit's users know them.
// Full-width blanks (U+3000) and ASCII blanks are significant: do not retype them.
#pragma once

#include <QString>

namespace Texts {

// The program's name: settings-store application name and message-box caption.
inline const QString AppTitle = QStringLiteral("KitUpdater");

// Caption of the updater window.
inline const QString WindowCaption = QStringLiteral("ファームウエアアップデート 　Ver1.00");
inline const QString PortLabel = QStringLiteral("通信ポート Com　：");
inline const QString SpeedLabel = QStringLiteral("通信スピード bps　：");
inline const QString CloseButton = QStringLiteral("閉じる");
inline const QString VersionButton = QStringLiteral("Version Read");
inline const QString OpenButton = QStringLiteral("OPEN");
inline const QString UpdateButton = QStringLiteral("UPDATE");
// First line of the notice under the serial rows.
inline const QString NoticeLine1 = QStringLiteral("この'ファームウエアアップデート'ウィンドウ内の操作を行った後は、キットの電源を再投入してください。");
// Last line of the notice.
inline const QString NoticeLine3 = QStringLiteral("多目的タイマーの設定：通信スピード９６００ＢＰＳ");
// Message box: the port box is empty.
inline const QString SetPortNumber = QStringLiteral("ポート番号を設定してください。");
inline const QString PortOpenFailed = QStringLiteral("通信ポートをオープンできませんでした。");
inline const QString VersionRead = QStringLiteral("ファームウエアバージョンをリードしました。");
// Message box after an unanswered version request, first line.
inline const QString VersionTimeoutLine1 = QStringLiteral("　　***　コミュニケーション失敗。　***　　　　　　");
inline const QString VersionTimeoutLine2 = QStringLiteral("　");
inline const QString NoFileLoaded = QStringLiteral("アップデートファイルがロードされていません。");
inline const QString CommunicationError = QStringLiteral("通信エラー");
inline const QString Updating = QStringLiteral("アップデート中です。電源は絶対に切らないでください。");
// Followed by the whole elapsed seconds and "sec".
inline const QString UpdateDonePrefix = QStringLiteral("アップデート完了。  ");
inline const QString UpdateDoneSuffix = QStringLiteral("sec");
// Message box at the end of an update.
inline const QString UpdateDoneLine1 = QStringLiteral("　　　 ファームウエアアップデートが完了しました。    　　　　　　　");
inline const QString UpdateDoneLine2 = QStringLiteral("　　　 キットの電源を再投入してください。　　　　　　　");
// Status of the failure and time-out endings.
inline const QString UpdateFailed = QStringLiteral("***　アップデート失敗　***");
// Message box of the time-out ending.
inline const QString UpdateTimeoutLine1 = QStringLiteral("　　　***　アップデート失敗　***　　　　　　");
inline const QString UpdateTimeoutLine2 = QStringLiteral("　");
inline const QString OpenDialogTitle = QStringLiteral("アップデータを開く");
inline const QString HexFilterName = QStringLiteral("アップデータファイル");
inline const QString HexFilterPattern = QStringLiteral("*.HEX");
inline const QString AllFilterName = QStringLiteral("全てのファイル");
inline const QString AllFilterPattern = QStringLiteral("*.*");
inline const QString FileChosenPrefix = QStringLiteral("ファイル名：");
inline const QString FileChosenSuffix = QStringLiteral("を指定しました。");
// Status: the port text is no port number (our own wording).
inline const QString PortNotANumber = QStringLiteral("ポート番号が正しくありません。");
// Status: the serial layer refuses the port number (our own wording).
inline const QString PortRefused = QStringLiteral("このポート番号は使用できません。");

// Serial adapters, as the port box's tooltips and `kitupdater-cli ports` name
// them. Technical texts, kept in English like the device names around them.
inline const QString NotConnected = QStringLiteral("not connected");
// Whether this user may open a device now.
inline const QString AccessOk = QStringLiteral("ok");
inline const QString AccessBusy = QStringLiteral("busy");
inline const QString AccessDenied = QStringLiteral("permission denied");
inline const QString AccessMissing = QStringLiteral("missing");

// Notice of the window: line 1, an empty line, line 3, joined by CR LF.
inline QString notice() { return NoticeLine1 + QStringLiteral("\r\n\r\n") + NoticeLine3; }

// Two-line message-box texts are joined by CR LF.
inline QString twoLines(const QString &first, const QString &second) { return first + QStringLiteral("\r\n") + second; }

// Status after a completed update: whole seconds, digits only, then "sec".
inline QString updateDone(qint64 wholeSeconds) { return UpdateDonePrefix + QString::number(wholeSeconds) + UpdateDoneSuffix; }

// Status after a file was chosen.
inline QString fileChosen(const QString &fileTitle) { return FileChosenPrefix + fileTitle + FileChosenSuffix; }

// Tooltip of a USB adapter: what it is, then the device it is now or NotConnected.
inline QString adapterDescription(const QString &adapter, const QString &deviceNow)
{
    return adapter + QStringLiteral(": ") + deviceNow;
}

// A by-id link whose name is not valid UTF-8 (shown with U+FFFD in place of its bytes).
inline QString linkNameNotUtf8(const QString &shown)
{
    return QStringLiteral("%1: the name is not valid UTF-8, so the adapter cannot be opened by it; it is left out")
        .arg(shown);
}

// Names read out by screen readers for the controls without a label of their
// own (our own wording).
inline const QString FirmwareVersionBoxName = QStringLiteral("ファームウエアバージョン");
inline const QString FileBoxName = QStringLiteral("アップデートファイル");
inline const QString ProgressBarName = QStringLiteral("アップデートの進み具合");

} // namespace Texts
