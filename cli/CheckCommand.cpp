#include "CheckCommand.h"

#include "Console.h"
#include "ExitStatus.h"
#include "HexFile.h"
#include "KitLink.h"
#include "KitProfile.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <new>

int checkFile(Console &console, const QByteArray &file)
{
    const QString name = HexFile::decodeName(file);
    try {
        const HexImage image = HexFile::readEncoded(file);
        const int sent = wordsToSend(StandardKit, image.words);
        const int outside = int(image.words.size()) - sent;
        console.result(QStringLiteral("words to send: %1\nwords outside the write window: %2").arg(sent).arg(outside));
        console.jsonDocument(QJsonDocument(QJsonObject{{"file", name},
                                                       {"words_to_send", sent},
                                                       {"words_outside_window", outside},
                                                       {"sha256", QString::fromStdString(image.sha256)}}));
        return Success;
    } catch (const HexFileError &e) {
        console.error(name + QStringLiteral(": ") + HexFile::describe(e));
        console.jsonDocument(QJsonDocument(QJsonObject{{"file", name}, {"error", HexFile::describe(e)}}));
    } catch (const std::bad_alloc &) {
        console.error(name + QStringLiteral(": not enough memory to read the file"));
        console.jsonDocument(QJsonDocument(QJsonObject{{"file", name}, {"error", "not enough memory"}}));
    }
    return FileRejected;
}
