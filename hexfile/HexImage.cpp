#include "HexImage.h"

#include "FileOpen.h"

#include <QByteArrayView>
#include <QCryptographicHash>
#include <QFile>

#include <array>

namespace {

// Record types of the Intel HEX format.
enum RecordType : quint8 {
    DataRecord = 0x00,
    EndOfFileRecord = 0x01,
    ExtendedSegmentAddressRecord = 0x02,
    StartSegmentAddressRecord = 0x03,
    ExtendedLinearAddressRecord = 0x04,
    StartLinearAddressRecord = 0x05,
};

// ':' + byte count (2) + address (4) + type (2) + checksum (2): a record without data.
constexpr qsizetype RecordOverheadChars = 11;
// Byte count, address (2), type, up to 255 data bytes, checksum.
constexpr int MaxRecordBytes = 1 + 2 + 1 + 255 + 1;
// How much is asked of the file per read call.
constexpr qint64 ReadChunkSize = 1024 * 1024;
// Windows editors put it at the start of a file saved as UTF-8.
constexpr QByteArrayView Utf8ByteOrderMark("\xEF\xBB\xBF");

// Value of every byte as a hexadecimal digit, -1 for all others; a table keeps the
// per-character work of a multi-megabyte file down to one lookup.
constexpr std::array<qint8, 256> makeDigitTable()
{
    std::array<qint8, 256> table{};
    for (int c = 0; c < 256; ++c) {
        if (c >= '0' && c <= '9')
            table[c] = qint8(c - '0');
        else if (c >= 'A' && c <= 'F')
            table[c] = qint8(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            table[c] = qint8(c - 'a' + 10);
        else
            table[c] = -1;
    }
    return table;
}
constexpr std::array<qint8, 256> DigitValue = makeDigitTable();

// One line of the file without its line end; points into the file's bytes.
struct LineView {
    const char *text = nullptr;
    qsizetype length = 0;
    int number = 0;        // 1-based
    qsizetype indent = 0;  // blanks and tabs cut off before text, so that columns stay the editor's
};

// A checked record; data points into the decoding buffer.
struct Record {
    quint8 byteCount = 0;
    quint16 address = 0;
    quint8 type = 0;
    const quint8 *data = nullptr;
};

[[noreturn]] void refuse(const QString &reason, int line = 0)
{
    throw HexFileError(reason, line);
}

QString hexText(quint32 value, int digits)
{
    return QStringLiteral("0x") + QString::number(value, 16).rightJustified(digits, QLatin1Char('0')).toUpper();
}

// A character as the user can find it in an editor; control and non-ASCII bytes by value.
QString describeCharacter(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x21 && byte <= 0x7E)
        return QStringLiteral("character '%1'").arg(QLatin1Char(c));
    if (byte == ' ')
        return QStringLiteral("a blank");
    return QStringLiteral("byte %1").arg(hexText(byte, 2));
}

// Calls visit(LineView) for every line; LF, CR LF and a lone CR all end a line.
template<typename Visitor>
void forEachLine(QByteArrayView content, Visitor &&visit)
{
    const char *const begin = content.data();
    const qsizetype size = content.size();
    qsizetype lineStart = 0;
    int lineNumber = 1;
    for (qsizetype i = 0; i < size; ++i) {
        const char c = begin[i];
        if (c != '\n' && c != '\r')
            continue;
        visit(LineView{begin + lineStart, i - lineStart, lineNumber++});
        if (c == '\r' && i + 1 < size && begin[i + 1] == '\n')
            ++i;
        lineStart = i + 1;
    }
    if (lineStart < size)
        visit(LineView{begin + lineStart, size - lineStart, lineNumber});
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Editors and some tools leave blanks or tabs around a record (indented files,
// padded lines); they carry no meaning and must not hide the record.
LineView withoutSurroundingBlanks(LineView line)
{
    while (line.length > 0 && isBlank(line.text[line.length - 1]))
        --line.length;
    while (line.length > 0 && isBlank(line.text[0])) {
        ++line.text;
        --line.length;
        ++line.indent;
    }
    return line;
}

bool isRecordLine(const LineView &line)
{
    return line.length > 0 && line.text[0] == ':';
}

void checkDigits(const LineView &line)
{
    for (qsizetype i = 1; i < line.length; ++i) {
        if (DigitValue[static_cast<unsigned char>(line.text[i])] < 0)
            refuse(QStringLiteral("%1 at column %2 is not a hexadecimal digit")
                       .arg(describeCharacter(line.text[i]))
                       .arg(line.indent + i + 1),
                   line.number);
    }
}

// Only called on text whose digits have been checked.
quint8 byteAt(const char *pair)
{
    return quint8((DigitValue[static_cast<unsigned char>(pair[0])] << 4)
                  | DigitValue[static_cast<unsigned char>(pair[1])]);
}

void checkLength(const LineView &line)
{
    if (line.length < RecordOverheadChars)
        refuse(QStringLiteral("record is too short: %1 characters, a record has at least %2")
                   .arg(line.length)
                   .arg(RecordOverheadChars),
               line.number);
    const quint8 byteCount = byteAt(line.text + 1);
    const qsizetype expected = RecordOverheadChars + 2 * qsizetype(byteCount);
    if (line.length != expected)
        refuse(QStringLiteral("record is %1 characters long, but its byte count %2 needs %3")
                   .arg(line.length)
                   .arg(hexText(byteCount, 2))
                   .arg(expected),
               line.number);
}

// Checks the characters, the length and the checksum of a record line and decodes it.
Record decodeRecord(const LineView &line, std::array<quint8, MaxRecordBytes> &bytes)
{
    checkDigits(line);
    checkLength(line);
    const int byteTotal = int((line.length - 1) / 2);
    unsigned sum = 0;
    for (int i = 0; i < byteTotal; ++i) {
        bytes[size_t(i)] = byteAt(line.text + 1 + 2 * i);
        sum += bytes[size_t(i)];
    }
    if ((sum & 0xFF) != 0) {
        const quint8 stored = bytes[size_t(byteTotal - 1)];
        const quint8 expected = quint8(0x100 - ((sum - stored) & 0xFF));
        refuse(QStringLiteral("checksum %1 is wrong, %2 expected")
                   .arg(hexText(stored, 2), hexText(expected, 2)),
               line.number);
    }
    Record record;
    record.byteCount = bytes[0];
    record.address = quint16((bytes[1] << 8) | bytes[2]);
    record.type = bytes[3];
    record.data = bytes.data() + 4;
    return record;
}

// Refuses records that cannot be mapped onto whole program words or an address base.
void checkRecordShape(const Record &record, int lineNumber)
{
    switch (record.type) {
    case DataRecord:
        if (record.byteCount % 2 != 0)
            refuse(QStringLiteral("data record has an odd byte count (%1); program words need byte pairs")
                       .arg(record.byteCount),
                   lineNumber);
        if (record.address % 2 != 0)
            refuse(QStringLiteral("data record has an odd address %1; program words start at even addresses")
                       .arg(hexText(record.address, 4)),
                   lineNumber);
        return;
    case ExtendedSegmentAddressRecord:
    case ExtendedLinearAddressRecord:
        if (record.byteCount != 2)
            refuse(QStringLiteral("address record (type %1) has %2 bytes, it must have 2")
                       .arg(hexText(record.type, 2))
                       .arg(record.byteCount),
                   lineNumber);
        return;
    case EndOfFileRecord:
    case StartSegmentAddressRecord:
    case StartLinearAddressRecord:
        return;
    default:
        refuse(QStringLiteral("unknown record type %1").arg(hexText(record.type, 2)), lineNumber);
    }
}

// Collects the words of the checked records and keeps track of the extended base.
class ImageBuilder {
public:
    void add(const Record &record)
    {
        ++m_image.recordCount;
        switch (record.type) {
        case DataRecord:
            appendWords(record);
            break;
        case ExtendedSegmentAddressRecord:
            m_base = quint32(wordValue(record)) << 4;
            break;
        case ExtendedLinearAddressRecord:
            m_base = quint32(wordValue(record)) << 16;
            break;
        default:
            break;  // end of file and start addresses carry nothing for the kit
        }
    }

    HexImage take() { return std::move(m_image); }

private:
    static quint16 wordValue(const Record &record)
    {
        return quint16((record.data[0] << 8) | record.data[1]);
    }

    void appendWords(const Record &record)
    {
        const quint32 firstWord = record.address / 2u;
        for (int k = 0; k < record.byteCount / 2; ++k) {
            HexWord word;
            word.address = firstWord + quint32(k);
            word.low = record.data[2 * k];
            word.high = record.data[2 * k + 1];
            word.inKitMemory = m_base == 0;
            m_image.words.append(word);
        }
    }

    HexImage m_image;
    quint32 m_base = 0;
};

[[noreturn]] void refuseTooLarge(const QByteArray &encodedPath, const QString &size)
{
    refuse(QStringLiteral("\"%1\" is too large: %2 bytes, at most %3 are read")
               .arg(QFile::decodeName(encodedPath), size)
               .arg(HexFile::MaxFileSize));
}

// Reads at most MaxFileSize + 1 bytes, so a file that grows while it is read is
// noticed without holding more than that in memory.
QByteArray readBounded(QFile &file, const QByteArray &encodedPath)
{
    constexpr qint64 limit = HexFile::MaxFileSize + 1;
    QByteArray content;
    content.reserve(qsizetype(qMin(file.size(), limit)));
    while (content.size() < limit) {
        const qsizetype filled = content.size();
        const qint64 wanted = qMin(ReadChunkSize, limit - filled);
        content.resize(filled + qsizetype(wanted));
        const qint64 got = file.read(content.data() + filled, wanted);
        if (got < 0)
            HexFile::Internal::refuseFile(QStringLiteral("read"), encodedPath, file.errorString());
        content.resize(filled + qsizetype(got));
        if (got == 0)
            break;
    }
    if (content.size() > HexFile::MaxFileSize)
        refuseTooLarge(encodedPath, QStringLiteral("more than %1").arg(HexFile::MaxFileSize));
    return content;
}

} // namespace

HexFileError::HexFileError(const QString &reason, int line)
    : std::runtime_error(reason.toStdString())
    , m_line(line)
{
}

QString HexFileError::describe() const
{
    return m_line > 0 ? QStringLiteral("line %1: %2").arg(m_line).arg(reason()) : reason();
}

namespace HexFile {

HexImage parse(const QByteArray &content)
{
    QByteArrayView text(content);
    if (text.startsWith(Utf8ByteOrderMark))
        text = text.sliced(Utf8ByteOrderMark.size());
    ImageBuilder builder;
    std::array<quint8, MaxRecordBytes> bytes{};
    bool anyRecord = false;
    bool endOfFile = false;
    forEachLine(text, [&](const LineView &rawLine) {
        const LineView line = withoutSurroundingBlanks(rawLine);
        if (!isRecordLine(line))
            return;
        anyRecord = true;
        const Record record = decodeRecord(line, bytes);
        checkRecordShape(record, line.number);
        endOfFile = endOfFile || record.type == EndOfFileRecord;
        builder.add(record);
    });
    if (!anyRecord)
        refuse(QStringLiteral("no Intel HEX record found: no line starts with ':'"));
    // A download or a copy cut off at a line end leaves good records behind;
    // only the end-of-file record tells that the rest of the firmware is there.
    if (!endOfFile)
        refuse(QStringLiteral("the end-of-file record (:00000001FF) is missing; the file may be cut short"));
    return builder.take();
}

HexImage readEncoded(const QByteArray &encodedPath)
{
    QFile file;
    Internal::openRegularFile(file, encodedPath);
    if (file.size() > MaxFileSize)
        refuseTooLarge(encodedPath, QString::number(file.size()));
    const QByteArray content = readBounded(file, encodedPath);
    HexImage image = parse(content);
    image.sha256 = QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex();
    return image;
}

HexImage read(const QString &path)
{
    return readEncoded(QFile::encodeName(path));
}

namespace Internal {

void refuseFile(const QString &action, const QByteArray &encodedPath, const QString &why)
{
    refuse(QStringLiteral("cannot %1 \"%2\": %3").arg(action, QFile::decodeName(encodedPath), why));
}

QString notRegularFile(const QString &kind)
{
    return QStringLiteral("it is %1, not a regular file").arg(kind);
}

} // namespace Internal

} // namespace HexFile
