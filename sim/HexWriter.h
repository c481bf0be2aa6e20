// Writing Intel HEX: the simulated kit's memory dump, and the files that tests
// and benchmarks feed to the tool.
#pragma once

#include <QByteArray>
#include <QMap>

namespace HexWriter {

// One record line with its checksum: ':', upper-case digits, no line end.
QByteArray record(quint16 byteAddress, quint8 type, const QByteArray &data);

// Program words as a compiler writes them: data records of up to eight
// consecutive words, each word low byte first at byte address 2 * w, then the
// end-of-file record; CR LF line ends.
QByteArray words(const QMap<quint16, quint16> &wordsByAddress);

} // namespace HexWriter
