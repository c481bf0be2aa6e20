// Every text of the kit's users, in one place, exactly as they know them: the
// window, the exchanges' status lines and message boxes, the file dialog. All
// front ends show these (the window and the command line through QString, the
// web page as they are). UTF-8.
// Full-width blanks (U+3000) and ASCII blanks are significant: do not retype them.
#pragma once

#include <string>

namespace Texts {

// The program's name: settings-store application name and message-box caption.
inline constexpr char AppTitle[] = "KitUpdater";

// Caption of the updater window.
inline constexpr char WindowCaption[] = "ファームウエアアップデート 　Ver1.00";
inline constexpr char PortLabel[] = "通信ポート Com　：";
inline constexpr char SpeedLabel[] = "通信スピード bps　：";
inline constexpr char CloseButton[] = "閉じる";
inline constexpr char VersionButton[] = "Version Read";
inline constexpr char OpenButton[] = "OPEN";
inline constexpr char UpdateButton[] = "UPDATE";
// First line of the notice under the serial rows.
inline constexpr char NoticeLine1[] = "この'ファームウエアアップデート'ウィンドウ内の操作を行った後は、キットの電源を再投入してください。";
// Last line of the notice.
inline constexpr char NoticeLine3[] = "多目的タイマーの設定：通信スピード９６００ＢＰＳ";
// Message box: the port box is empty.
inline constexpr char SetPortNumber[] = "ポート番号を設定してください。";
inline constexpr char PortOpenFailed[] = "通信ポートをオープンできませんでした。";
inline constexpr char VersionRead[] = "ファームウエアバージョンをリードしました。";
// Message box after an unanswered version request, first line.
inline constexpr char VersionTimeoutLine1[] = "　　***　コミュニケーション失敗。　***　　　　　　";
inline constexpr char VersionTimeoutLine2[] = "　";
inline constexpr char NoFileLoaded[] = "アップデートファイルがロードされていません。";
inline constexpr char CommunicationError[] = "通信エラー";
inline constexpr char Updating[] = "アップデート中です。電源は絶対に切らないでください。";
// Followed by the whole elapsed seconds and "sec".
inline constexpr char UpdateDonePrefix[] = "アップデート完了。  ";
inline constexpr char UpdateDoneSuffix[] = "sec";
// Message box at the end of an update.
inline constexpr char UpdateDoneLine1[] = "　　　 ファームウエアアップデートが完了しました。    　　　　　　　";
inline constexpr char UpdateDoneLine2[] = "　　　 キットの電源を再投入してください。　　　　　　　";
// Status of the failure and time-out endings.
inline constexpr char UpdateFailed[] = "***　アップデート失敗　***";
// Message box of the time-out ending.
inline constexpr char UpdateTimeoutLine1[] = "　　　***　アップデート失敗　***　　　　　　";
inline constexpr char UpdateTimeoutLine2[] = "　";
inline constexpr char OpenDialogTitle[] = "アップデータを開く";
inline constexpr char HexFilterName[] = "アップデータファイル";
inline constexpr char HexFilterPattern[] = "*.HEX";
inline constexpr char AllFilterName[] = "全てのファイル";
inline constexpr char AllFilterPattern[] = "*.*";
inline constexpr char FileChosenPrefix[] = "ファイル名：";
inline constexpr char FileChosenSuffix[] = "を指定しました。";
// Status: the port text is no port number (our own wording).
inline constexpr char PortNotANumber[] = "ポート番号が正しくありません。";
// Status: the serial layer refuses the port number (our own wording).
inline constexpr char PortRefused[] = "このポート番号は使用できません。";

// Names read out by screen readers for the controls without a label of their
// own (our own wording).
inline constexpr char FirmwareVersionBoxName[] = "ファームウエアバージョン";
inline constexpr char FileBoxName[] = "アップデートファイル";
inline constexpr char ProgressBarName[] = "アップデートの進み具合";

// The helpers below build a text for any string type that is made from UTF-8
// (std::string for the core and the web page, QString for the desktop).

// Notice of the window: line 1, an empty line, line 3, joined by CR LF.
template<typename String = std::string>
String notice()
{
    return String(NoticeLine1) + String("\r\n\r\n") + String(NoticeLine3);
}

// Two-line message-box texts are joined by CR LF.
template<typename String>
String twoLines(const String &first, const String &second)
{
    return first + String("\r\n") + second;
}

// Status after a file was chosen.
template<typename String>
String fileChosen(const String &fileTitle)
{
    return String(FileChosenPrefix) + fileTitle + String(FileChosenSuffix);
}

// Status after a completed update: whole seconds, digits only, then "sec".
inline std::string updateDone(long long wholeSeconds)
{
    return UpdateDonePrefix + std::to_string(wholeSeconds) + UpdateDoneSuffix;
}

} // namespace Texts
