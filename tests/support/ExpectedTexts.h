// What the user must see, written out as the kit's users know it. Shared by
// the tests; deliberately not taken from the program's own text header, so
// that a wrong text there shows up here.
#pragma once

#include <QString>

namespace Expected {

const QString VersionReadStatus = QStringLiteral("ファームウエアバージョンをリードしました。");
const QString UpdatingStatus = QStringLiteral("アップデート中です。電源は絶対に切らないでください。");
const QString FailedStatus = QStringLiteral("***\u3000アップデート失敗\u3000***");
const QString CommunicationErrorStatus = QStringLiteral("通信エラー");
const QString PortOpenFailedStatus = QStringLiteral("通信ポートをオープンできませんでした。");
const QString NoFileStatus = QStringLiteral("アップデートファイルがロードされていません。");
// The completion status for an update that took less than a second.
const QString DoneStatus = QStringLiteral("アップデート完了。  0sec");

const QString SetPortMessage = QStringLiteral("ポート番号を設定してください。");
const QString DoneMessage = QStringLiteral(
    "\u3000\u3000\u3000 ファームウエアアップデートが完了しました。    \u3000\u3000\u3000\u3000\u3000\u3000\u3000\r\n"
    "\u3000\u3000\u3000 キットの電源を再投入してください。\u3000\u3000\u3000\u3000\u3000\u3000\u3000");
const QString TimeoutMessage =
    QStringLiteral("\u3000\u3000\u3000***\u3000アップデート失敗\u3000***\u3000\u3000\u3000\u3000\u3000\u3000\r\n\u3000");
const QString VersionTimeoutMessage =
    QStringLiteral("\u3000\u3000***\u3000コミュニケーション失敗。\u3000***\u3000\u3000\u3000\u3000\u3000\u3000\r\n\u3000");

} // namespace Expected
