#include "VersionText.h"

namespace {
QChar characterOfByte(quint8 byte)
{
    if (byte < 0x80)
        return QChar(byte);
    if (byte >= 0xA1 && byte <= 0xDF)
        return QChar(0xFF61 + (byte - 0xA1));
    return QChar(QChar::ReplacementCharacter);
}
} // namespace

QString versionTextFromBytes(const QByteArray &answer, int length)
{
    length = qMin<int>(answer.size(), length);
    QString text;
    text.reserve(length);
    for (int i = 0; i < length; ++i)
        text.append(characterOfByte(static_cast<quint8>(answer.at(i))));
    return text;
}
