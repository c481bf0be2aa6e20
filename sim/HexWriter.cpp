#include "HexWriter.h"

namespace {
constexpr int WordsPerRecord = 8;
const QByteArray LineEnd = QByteArrayLiteral("\r\n");
} // namespace

namespace HexWriter {

QByteArray record(quint16 byteAddress, quint8 type, const QByteArray &data)
{
    QByteArray body;
    body.append(char(data.size()));
    body.append(char(byteAddress >> 8));
    body.append(char(byteAddress & 0xFF));
    body.append(char(type));
    body.append(data);
    quint8 sum = 0;
    for (char byte : body)
        sum += quint8(byte);
    body.append(char(quint8(-sum)));
    return ':' + body.toHex().toUpper();
}

QByteArray words(const QMap<quint16, quint16> &wordsByAddress)
{
    QByteArray text;
    QByteArray data;
    quint32 firstWord = 0;
    quint32 nextWord = 0;
    auto flush = [&] {
        if (!data.isEmpty())
            text += record(quint16(2 * firstWord), 0x00, data) + LineEnd;
        data.clear();
    };
    for (auto it = wordsByAddress.cbegin(); it != wordsByAddress.cend(); ++it) {
        if (it.key() != nextWord || data.size() == 2 * WordsPerRecord)
            flush();
        if (data.isEmpty())
            firstWord = it.key();
        data.append(char(it.value() & 0xFF));
        data.append(char(it.value() >> 8));
        nextWord = it.key() + 1u;
    }
    flush();
    return text + record(0, 0x01, QByteArray()) + LineEnd;
}

} // namespace HexWriter
