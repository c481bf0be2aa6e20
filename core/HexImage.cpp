#include "HexImage.h"

#include <array>
#include <cstdio>

namespace {

// Record types of the Intel HEX format.
enum RecordType : std::uint8_t {
    DataRecord = 0x00,
    EndOfFileRecord = 0x01,
    ExtendedSegmentAddressRecord = 0x02,
    StartSegmentAddressRecord = 0x03,
    ExtendedLinearAddressRecord = 0x04,
    StartLinearAddressRecord = 0x05,
};

// ':' + byte count (2) + address (4) + type (2) + checksum (2): a record without data.
constexpr std::size_t RecordOverheadChars = 11;
// Byte count, address (2), type, up to 255 data bytes, checksum.
constexpr int MaxRecordBytes = 1 + 2 + 1 + 255 + 1;
// Windows editors put it at the start of a file saved as UTF-8.
constexpr std::string_view Utf8ByteOrderMark("\xEF\xBB\xBF");

// Value of every byte as a hexadecimal digit, -1 for all others; a table keeps the
// per-character work of a multi-megabyte file down to one lookup.
constexpr std::array<std::int8_t, 256> makeDigitTable()
{
    std::array<std::int8_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        if (c >= '0' && c <= '9')
            table[c] = std::int8_t(c - '0');
        else if (c >= 'A' && c <= 'F')
            table[c] = std::int8_t(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            table[c] = std::int8_t(c - 'a' + 10);
        else
            table[c] = -1;
    }
    return table;
}
constexpr std::array<std::int8_t, 256> DigitValue = makeDigitTable();

// One line of the file without its line end; points into the file's bytes.
struct LineView {
    const char *text = nullptr;
    std::size_t length = 0;
    int number = 0;         // 1-based
    std::size_t indent = 0; // blanks and tabs cut off before text, so that columns stay the editor's
};

// A checked record; data points into the decoding buffer.
struct Record {
    std::uint8_t byteCount = 0;
    std::uint16_t address = 0;
    std::uint8_t type = 0;
    const std::uint8_t *data = nullptr;
};

[[noreturn]] void refuse(const std::string &reason, int line = 0)
{
    throw HexFileError(reason, line);
}

std::string hexText(unsigned value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::string number(long long value)
{
    return std::to_string(value);
}

// A character as the user can find it in an editor; control and non-ASCII bytes by value.
std::string describeCharacter(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x21 && byte <= 0x7E)
        return std::string("character '") + c + "'";
    if (byte == ' ')
        return "a blank";
    return "byte " + hexText(byte, 2);
}

// Calls visit(LineView) for every line; LF, CR LF and a lone CR all end a line.
template<typename Visitor>
void forEachLine(std::string_view content, Visitor &&visit)
{
    const char *const begin = content.data();
    const std::size_t size = content.size();
    std::size_t lineStart = 0;
    int lineNumber = 1;
    for (std::size_t i = 0; i < size; ++i) {
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
    for (std::size_t i = 1; i < line.length; ++i) {
        if (DigitValue[static_cast<unsigned char>(line.text[i])] < 0)
            refuse(describeCharacter(line.text[i]) + " at column " + number(line.indent + i + 1)
                       + " is not a hexadecimal digit",
                   line.number);
    }
}

// Only called on text whose digits have been checked.
std::uint8_t byteAt(const char *pair)
{
    return std::uint8_t((DigitValue[static_cast<unsigned char>(pair[0])] << 4)
                        | DigitValue[static_cast<unsigned char>(pair[1])]);
}

void checkLength(const LineView &line)
{
    if (line.length < RecordOverheadChars)
        refuse("record is too short: " + number(line.length) + " characters, a record has at least "
                   + number(RecordOverheadChars),
               line.number);
    const std::uint8_t byteCount = byteAt(line.text + 1);
    const std::size_t expected = RecordOverheadChars + 2 * std::size_t(byteCount);
    if (line.length != expected)
        refuse("record is " + number(line.length) + " characters long, but its byte count " + hexText(byteCount, 2)
                   + " needs " + number(expected),
               line.number);
}

// Checks the characters, the length and the checksum of a record line and decodes it.
Record decodeRecord(const LineView &line, std::array<std::uint8_t, MaxRecordBytes> &bytes)
{
    checkDigits(line);
    checkLength(line);
    const int byteTotal = int((line.length - 1) / 2);
    unsigned sum = 0;
    for (int i = 0; i < byteTotal; ++i) {
        bytes[std::size_t(i)] = byteAt(line.text + 1 + 2 * i);
        sum += bytes[std::size_t(i)];
    }
    if ((sum & 0xFF) != 0) {
        const std::uint8_t stored = bytes[std::size_t(byteTotal - 1)];
        const std::uint8_t expected = std::uint8_t(0x100 - ((sum - stored) & 0xFF));
        refuse("checksum " + hexText(stored, 2) + " is wrong, " + hexText(expected, 2) + " expected", line.number);
    }
    Record record;
    record.byteCount = bytes[0];
    record.address = std::uint16_t((bytes[1] << 8) | bytes[2]);
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
            refuse("data record has an odd byte count (" + number(record.byteCount)
                       + "); program words need byte pairs",
                   lineNumber);
        if (record.address % 2 != 0)
            refuse("data record has an odd address " + hexText(record.address, 4)
                       + "; program words start at even addresses",
                   lineNumber);
        return;
    case ExtendedSegmentAddressRecord:
    case ExtendedLinearAddressRecord:
        if (record.byteCount != 2)
            refuse("address record (type " + hexText(record.type, 2) + ") has " + number(record.byteCount)
                       + " bytes, it must have 2",
                   lineNumber);
        return;
    case EndOfFileRecord:
    case StartSegmentAddressRecord:
    case StartLinearAddressRecord:
        return;
    default:
        refuse("unknown record type " + hexText(record.type, 2), lineNumber);
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
            m_base = std::uint32_t(wordValue(record)) << 4;
            break;
        case ExtendedLinearAddressRecord:
            m_base = std::uint32_t(wordValue(record)) << 16;
            break;
        default:
            break; // end of file and start addresses carry nothing for the kit
        }
    }

    HexImage take() { return std::move(m_image); }

private:
    static std::uint16_t wordValue(const Record &record)
    {
        return std::uint16_t((record.data[0] << 8) | record.data[1]);
    }

    void appendWords(const Record &record)
    {
        const std::uint32_t firstWord = record.address / 2u;
        for (int k = 0; k < record.byteCount / 2; ++k) {
            HexWord word;
            word.address = firstWord + std::uint32_t(k);
            word.low = record.data[2 * k];
            word.high = record.data[2 * k + 1];
            word.inKitMemory = m_base == 0;
            m_image.words.push_back(word);
        }
    }

    HexImage m_image;
    std::uint32_t m_base = 0;
};

} // namespace

std::string HexFileError::describe() const
{
    return m_line > 0 ? "line " + number(m_line) + ": " + reason() : reason();
}

namespace HexFile {

HexImage parse(std::string_view text)
{
    if (text.substr(0, Utf8ByteOrderMark.size()) == Utf8ByteOrderMark)
        text.remove_prefix(Utf8ByteOrderMark.size());
    ImageBuilder builder;
    std::array<std::uint8_t, MaxRecordBytes> bytes{};
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
        refuse("no Intel HEX record found: no line starts with ':'");
    // A download or a copy cut off at a line end leaves good records behind;
    // only the end-of-file record tells that the rest of the firmware is there.
    if (!endOfFile)
        refuse("the end-of-file record (:00000001FF) is missing; the file may be cut short");
    return builder.take();
}

void refuseTooLarge(const std::string &fileName, const std::string &size)
{
    refuse("\"" + fileName + "\" is too large: " + size + " bytes, at most " + number(MaxFileSize) + " are read");
}

} // namespace HexFile
