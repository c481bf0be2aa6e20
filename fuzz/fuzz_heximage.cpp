// Feeds arbitrary bytes to the HEX reader that the firmware update uses and
// checks every result against a small reading of the same bytes written
// separately here, in a different style, so that one mistake does not hide in
// both.
//
// A record line starts with ':' after any blanks and tabs; a UTF-8 byte-order
// mark at the very start of the input does not count as part of the first line.
//
// Invariants, each ending the run with abort() and a message when broken:
// - a refusal is a HexFileError with a reason, naming the first bad record line;
//   a file whose record lines are all good but hold no end-of-file record is
//   refused without a line, with a reason that names the missing record;
// - an accepted file has at least one record and an end-of-file record, and
//   every record line of it has hexadecimal digits only, the length its byte
//   count needs and a correct checksum;
// - a file whose record lines are all good and hold an end-of-file record is
//   accepted;
// - the accepted words are exactly those of the data records, in file order, at
//   the address their record gives, with the base flag of the last 02/04 record.
// Address sanitizer and undefined-behaviour sanitizer catch the rest.
#include "HexImage.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace {

[[noreturn]] void broken(const std::string &invariant)
{
    std::fprintf(stderr, "\n*** HEX reader invariant broken: %s\n", invariant.c_str());
    std::abort();
}

std::string hex(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

struct ExpectedWord {
    unsigned address;
    unsigned high;
    unsigned low;
    bool inKitMemory;
};

// What the reader must make of the input.
struct Expectation {
    int recordLines = 0;
    int firstBadLine = 0;       // 1-based; 0 when every record line is good
    std::string firstBadWhy;
    bool endOfFile = false;     // a good type 01 record comes before any bad line
    std::vector<ExpectedWord> words;
    unsigned baseValue = 0;     // value of the last 02/04 record; non-zero moves words out of the kit
};

// Lines end at LF, CR LF or a lone CR; the reader accepts all three.
std::vector<std::string_view> splitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    size_t start = 0;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '\r' && text[i] != '\n') {
            ++i;
            continue;
        }
        lines.push_back(text.substr(start, i - start));
        const bool crLf = text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
        i += crLf ? 2 : 1;
        start = i;
    }
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

// The line without blanks and tabs at either end.
std::string_view trim(std::string_view line)
{
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    return line.substr(first, line.find_last_not_of(" \t") - first + 1);
}

std::string_view withoutByteOrderMark(std::string_view input)
{
    constexpr std::string_view mark("\xEF\xBB\xBF");
    return input.substr(0, mark.size()) == mark ? input.substr(mark.size()) : input;
}

int digitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The bytes of a record line after its ':', or a reason why it has none.
bool decodePairs(std::string_view digits, std::vector<unsigned> &bytes, std::string &why)
{
    if (digits.size() % 2 != 0) {
        why = "an odd number of digits";
        return false;
    }
    for (size_t i = 0; i < digits.size(); i += 2) {
        const int high = digitValue(digits[i]);
        const int low = digitValue(digits[i + 1]);
        if (high < 0 || low < 0) {
            why = "a character that is not a hexadecimal digit";
            return false;
        }
        bytes.push_back(unsigned(high * 16 + low));
    }
    return true;
}

// Checks one record's framing, checksum and shape (the reader refuses odd data
// records, address records without two bytes and unknown types).
bool recordIsGood(const std::vector<unsigned> &bytes, std::string &why)
{
    if (bytes.size() < 5 || bytes[0] != bytes.size() - 5) {
        why = "a length that does not match its byte count";
        return false;
    }
    unsigned sum = 0;
    for (unsigned b : bytes)
        sum += b;
    if (sum % 256 != 0) {
        why = "a wrong checksum";
        return false;
    }
    const unsigned count = bytes[0];
    const unsigned address = bytes[1] * 256 + bytes[2];
    switch (bytes[3]) {
    case 0x00:
        why = "a data record that is not whole words";
        return count % 2 == 0 && address % 2 == 0;
    case 0x02:
    case 0x04:
        why = "an address record without two bytes";
        return count == 2;
    case 0x01:
    case 0x03:
    case 0x05:
        return true;
    default:
        why = "an unknown record type";
        return false;
    }
}

void takeRecord(const std::vector<unsigned> &bytes, Expectation &expected)
{
    const unsigned type = bytes[3];
    if (type == 0x01)
        expected.endOfFile = true;
    if (type == 0x02 || type == 0x04)
        expected.baseValue = bytes[4] * 256 + bytes[5];
    if (type != 0x00)
        return;
    const unsigned address = bytes[1] * 256 + bytes[2];
    for (unsigned k = 0; 2 * k < bytes[0]; ++k)
        expected.words.push_back({address / 2 + k, bytes[4 + 2 * k + 1], bytes[4 + 2 * k], expected.baseValue == 0});
}

Expectation expectationFor(std::string_view input)
{
    Expectation expected;
    const std::vector<std::string_view> lines = splitLines(withoutByteOrderMark(input));
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = trim(lines[i]);
        if (line.empty() || line[0] != ':')
            continue;
        ++expected.recordLines;
        if (expected.firstBadLine != 0)
            continue;
        std::vector<unsigned> bytes;
        std::string why;
        if (decodePairs(line.substr(1), bytes, why) && recordIsGood(bytes, why)) {
            takeRecord(bytes, expected);
        } else {
            expected.firstBadLine = int(i + 1);
            expected.firstBadWhy = why;
        }
    }
    return expected;
}

bool isGood(const Expectation &expected)
{
    return expected.recordLines > 0 && expected.firstBadLine == 0 && expected.endOfFile;
}

void checkRefusal(const HexFileError &error, const Expectation &expected)
{
    const std::string reason = error.what();
    if (reason.empty())
        broken("a refusal without a reason");
    if (isGood(expected))
        broken("a good file was refused: " + reason);
    if (expected.recordLines > 0 && expected.firstBadLine == 0 && reason.find("end-of-file record") == std::string::npos)
        broken("a file without an end-of-file record was refused for another reason: " + reason);
    if (error.line() != expected.firstBadLine)
        broken("refusal names line " + std::to_string(error.line()) + ", the first bad record line is "
               + std::to_string(expected.firstBadLine) + ": " + error.what());
}

std::string describe(unsigned address, unsigned high, unsigned low, bool inKitMemory)
{
    return "word " + hex(address) + " high " + hex(high) + " low " + hex(low)
           + (inKitMemory ? " in the kit" : " outside the kit");
}

void checkWords(const HexImage &image, const Expectation &expected)
{
    if (image.words.size() != expected.words.size())
        broken(std::to_string(image.words.size()) + " words accepted, the data records hold "
               + std::to_string(expected.words.size()));
    for (size_t i = 0; i < expected.words.size(); ++i) {
        const HexWord &got = image.words[i];
        const ExpectedWord &want = expected.words[i];
        if (got.address != want.address || got.high != want.high || got.low != want.low
            || got.inKitMemory != want.inKitMemory)
            broken("word " + std::to_string(i) + " is " + describe(got.address, got.high, got.low, got.inKitMemory)
                   + ", its record gives " + describe(want.address, want.high, want.low, want.inKitMemory));
    }
}

void checkAcceptance(const HexImage &image, const Expectation &expected)
{
    if (expected.recordLines == 0 || image.recordCount < 1)
        broken("a file without records was accepted");
    if (expected.firstBadLine != 0)
        broken("a file was accepted although its line " + std::to_string(expected.firstBadLine) + " has "
               + expected.firstBadWhy);
    if (!expected.endOfFile)
        broken("a file without an end-of-file record was accepted");
    if (image.recordCount != expected.recordLines)
        broken("record count " + std::to_string(image.recordCount) + ", the file has "
               + std::to_string(expected.recordLines) + " record lines");
    checkWords(image, expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The fuzzer's exactly sized buffer itself, so that a read past its end is caught.
    const std::string_view content(reinterpret_cast<const char *>(data), size);
    const Expectation expected = expectationFor(content);
    try {
        checkAcceptance(HexFile::parse(content), expected);
    } catch (const HexFileError &error) {
        checkRefusal(error, expected);
    } catch (const std::exception &error) {
        broken(std::string("the reader threw something other than HexFileError: ") + error.what());
    }
    return 0;
}
