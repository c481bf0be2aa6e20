// Reading and checking Intel HEX files from their bytes: the words taken, the
// files refused with their line and reason.
#include "HexImage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using Words = std::vector<HexWord>;

HexWord word(std::uint32_t address, std::uint8_t high, std::uint8_t low, bool inKitMemory = true)
{
    HexWord w;
    w.address = address;
    w.high = high;
    w.low = low;
    w.inKitMemory = inKitMemory;
    return w;
}

// One word per entry, e.g. "0x0008 hi 12 lo 34 kit": a failure then shows which word differs.
std::vector<std::string> describe(const Words &words)
{
    std::vector<std::string> lines;
    for (const HexWord &w : words) {
        char line[64];
        std::snprintf(line, sizeof line, "0x%04x hi %02x lo %02x %s", unsigned(w.address), unsigned(w.high),
                      unsigned(w.low), w.inKitMemory ? "kit" : "outside");
        lines.push_back(line);
    }
    return lines;
}

const Words WorkedExample{word(0x0008, 0x12, 0x34), word(0x0009, 0x56, 0x78)};
// Closes every file a row does not itself cut short.
const std::string End(":00000001FF\n");

} // namespace

TEST(HexImage, GoodFiles)
{
    struct Row {
        const char *name;
        std::string content;
        Words words;
        int recordCount;
    };
    const Row rows[] = {
        {"worked example, LF", std::string(":0400100034127856D8\n:00000001FF\n"), WorkedExample, 2},
        {"CR LF", std::string(":0400100034127856D8\r\n:00000001FF\r\n"), WorkedExample, 2},
        {"lone CR", std::string(":0400100034127856D8\r:00000001FF\r"), WorkedExample, 2},
        {"mixed line ends, no final one", std::string(":0400100034127856D8\r\n\r\n\n\r:0400000034127856E8\n:00000001FF"), Words{word(0x0008, 0x12, 0x34), word(0x0009, 0x56, 0x78), word(0x0000, 0x12, 0x34), word(0x0001, 0x56, 0x78)}, 3},
        {"only end of file", std::string(":00000001FF\n"), Words{}, 1},
        {"only end of file, no line end", std::string(":00000001FF"), Words{}, 1},
        {"empty data record", std::string(":0000000000\n") + End, Words{}, 2},
        {"lower-case digits", std::string(":02000000abcd86\n:0400100034127856d8\n:00000001ff\n"), Words{word(0x0000, 0xCD, 0xAB), word(0x0008, 0x12, 0x34), word(0x0009, 0x56, 0x78)}, 3},
        {"trailing blanks and tabs", std::string(":0400100034127856D8 \t \r\n:00000001FF\t\n"), WorkedExample, 2},
        {"skipped lines: empty, comment, blanks only, NUL, binary, mid-file byte-order mark", std::string("; firmware for the kit\n\n \t \n") + std::string("\0\x01\xff\xfe", 4) + std::string("\n<html>\n\xEF\xBB\xBF:0400000034127856E8\n:0400100034127856D8\n") + End, WorkedExample, 2},
        {"UTF-8 byte-order mark before the first record", std::string("\xEF\xBB\xBF:0400100034127856D8\r\n:00000001FF\r\n"), WorkedExample, 2},
        {"blanks and tabs before the colon", std::string("  :0400100034127856D8\n\t:00000001FF\n"), WorkedExample, 2},
        {"byte-order mark, then an indented record", std::string("\xEF\xBB\xBF \t:0400100034127856D8\n") + End, WorkedExample, 2},
        {"lines after end of file still count", std::string(":0400100034127856D8\n:00000001FF\n:0400000034127856E8\n"), Words{word(0x0008, 0x12, 0x34), word(0x0009, 0x56, 0x78), word(0x0000, 0x12, 0x34), word(0x0001, 0x56, 0x78)}, 3},
        {"sixteen bytes", std::string(":10000000000102030405060708090A0B0C0D0E0F78\n") + End, Words{word(0, 0x01, 0x00), word(1, 0x03, 0x02), word(2, 0x05, 0x04), word(3, 0x07, 0x06), word(4, 0x09, 0x08), word(5, 0x0B, 0x0A), word(6, 0x0D, 0x0C), word(7, 0x0F, 0x0E)}, 2},
        {"window edge 0x1EFF/0x1F00 both listed", std::string(":043DFE00AABBCCDDB3\n") + End, Words{word(0x1EFF, 0xBB, 0xAA), word(0x1F00, 0xDD, 0xCC)}, 2},
        {"address 0x8000 gives word 0x4000", std::string(":02800000AABB19\n") + End, Words{word(0x4000, 0xBB, 0xAA)}, 2},
        {"top of 16-bit address space does not wrap", std::string(":04FFFE001122334455\n") + End, Words{word(0x7FFF, 0x22, 0x11), word(0x8000, 0x44, 0x33)}, 2},
        {"linear base 0 changes nothing", std::string(":020000040000FA\n:0400100034127856D8\n:00000001FF\n"), WorkedExample, 3},
        {"segment base 0 changes nothing", std::string(":020000020000FC\n:0400100034127856D8\n") + End, WorkedExample, 3},
        {"linear base 0x10000 puts words outside, then base 0 back", std::string(":020000040001F9\n:0400100034127856D8\n:020000040000FA\n:0400000034127856E8\n") + End, Words{word(0x0008, 0x12, 0x34, false), word(0x0009, 0x56, 0x78, false), word(0x0000, 0x12, 0x34), word(0x0001, 0x56, 0x78)}, 5},
        {"linear base 0xFFFF0000", std::string(":02000004FFFFFC\n:0400100034127856D8\n") + End, Words{word(0x0008, 0x12, 0x34, false), word(0x0009, 0x56, 0x78, false)}, 3},
        {"segment base 0x10000 puts words outside", std::string(":020000021000EC\n:0400100034127856D8\n") + End, Words{word(0x0008, 0x12, 0x34, false), word(0x0009, 0x56, 0x78, false)}, 3},
        {"segment base 0xF0000 then linear base 0", std::string(":02000002F0000C\n:02000000ABCD86\n:020000040000FA\n:02000000ABCD86\n") + End, Words{word(0x0000, 0xCD, 0xAB, false), word(0x0000, 0xCD, 0xAB)}, 5},
        {"start addresses 03 and 05 yield no words", std::string(":0400000300001234B3\n:04000005000000CD2A\n:0400100034127856D8\n") + End, WorkedExample, 4},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const HexImage image = HexFile::parse(row.content);
        EXPECT_EQ(describe(image.words), describe(row.words));
        EXPECT_EQ(image.recordCount, row.recordCount);
        EXPECT_TRUE(image.sha256.empty());
    }
}

TEST(HexImage, RefusedFiles)
{
    struct Row {
        const char *name;
        std::string content;
        int line;
        std::string reasonStart;
    };
    const Row rows[] = {
        {"wrong checksum", std::string(":0400100034127856D9\n"), 1, "checksum 0xD9 is wrong, 0xD8 expected"},
        {"checksum of zero-length record", std::string(":00000001FF\n:0000000001\n"), 2, "checksum 0x01 is wrong, 0x00 expected"},
        {"letter G", std::string(":04001000341G7856D8\n"), 1, "character 'G' at column 13 is not a hexadecimal digit"},
        {"blank inside", std::string(":0400100034 127856D8\n"), 1, "a blank at column 12 is not a hexadecimal digit"},
        {"NUL inside a record", std::string(":04001000\0\x34\x31\x32\x37\x38\x35\x36\x44\x38\n", 21), 1, "byte 0x00 at column 10 is not a hexadecimal digit"},
        {"second colon", std::string(":00000001FF\n::00000001FF\n"), 2, "character ':' at column 2"},
        {"colon alone", std::string(":\n"), 1, "record is too short: 1 characters, a record has at least 11"},
        {"header cut short", std::string(":04001000\n"), 1, "record is too short: 9 characters"},
        {"colon and blanks", std::string(":   \n:00000001FF\n"), 1, "record is too short: 1 characters"},
        {"data missing", std::string(":04001000341278D8\n"), 1, "record is 17 characters long, but its byte count 0x04 needs 19"},
        {"data beyond byte count", std::string(":0400100034127856AAD8\n"), 1, "record is 21 characters long, but its byte count 0x04 needs 19"},
        {"odd length", std::string(":00000001FF0\n"), 1, "record is 12 characters long, but its byte count 0x00 needs 11"},
        {"odd byte count", std::string(":030010003412782F\n"), 1, "data record has an odd byte count (3)"},
        {"odd address", std::string(":02001100AABB88\n"), 1, "data record has an odd address 0x0011"},
        {"unknown type 06", std::string(":00000006FA\n"), 1, "unknown record type 0x06"},
        {"linear address with 3 bytes", std::string(":03000004000000F9\n"), 1, "address record (type 0x04) has 3 bytes, it must have 2"},
        {"segment address with 1 byte", std::string(":0100000210ED\n"), 1, "address record (type 0x02) has 1 bytes, it must have 2"},
        {"line number counts skipped lines", std::string("; header\n\n:0400100034127856D8\n:0400100034127856D9\n"), 4, "checksum"},
        {"line number after end of file", std::string(":00000001FF\n\n:0400100034127856D9\n"), 3, "checksum"},
        {"CR LF counts as one line end", std::string("a\r\nb\r\n:0400100034127856D9\r\n"), 3, "checksum"},
        {"lone CR ends a line", std::string("a\rb\r\r:0400100034127856D9\r"), 4, "checksum"},
        {"first fault wins", std::string(":00000006FA\n:0400100034127856D9\n"), 1, "unknown record type"},
        {"column counts the blanks before the colon", std::string(" \t:04001000341G7856D8\n"), 1, "character 'G' at column 15 is not a hexadecimal digit"},
        {"no end-of-file record: cut short at a line end", std::string(":020000040000FA\r\n:0400100034127856D8\r\n"), 0, "the end-of-file record (:00000001FF) is missing; the file may be cut short"},
        {"end-of-file record only in a comment", std::string(":0400100034127856D8\n; :00000001FF\n"), 0, "the end-of-file record (:00000001FF) is missing"},
        {"empty file", std::string(), 0, "no Intel HEX record found"},
        {"only line ends", std::string("\r\n\n\r"), 0, "no Intel HEX record found"},
        {"binary file", std::string("\x7f" "ELF\0\0\x01\x02\n\xff\r", 12), 0, "no Intel HEX record found"},
        {"HTML page", std::string("<!DOCTYPE html>\n<html><body>Not found</body></html>\n"), 0, "no Intel HEX record found"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        try {
            HexFile::parse(row.content);
            ADD_FAILURE() << "the file was accepted";
        } catch (const HexFileError &error) {
            EXPECT_EQ(error.line(), row.line);
            EXPECT_EQ(error.reason().rfind(row.reasonStart, 0), 0u) << error.reason();
        }
    }
}

TEST(HexImage, RefusalWithItsLine)
{
    try {
        HexFile::parse(":00000001FF\n\n:0400100034127856D9\n");
        ADD_FAILURE() << "the file was accepted";
    } catch (const HexFileError &error) {
        EXPECT_EQ(error.describe(), "line 3: checksum 0xD9 is wrong, 0xD8 expected");
    }
}

// Every cut of a good file must end in a result or a HexFileError, never in anything else.
TEST(HexImage, TruncatedFileIsReadOrRefused)
{
    const std::string good(":020000040000FA\r\n:0400100034127856D8\r\n:00000001FF\r\n");
    int accepted = 0;
    for (std::size_t length = 0; length <= good.size(); ++length) {
        try {
            HexFile::parse(good.substr(0, length));
            ++accepted;
        } catch (const HexFileError &) {
        }
    }
    // Only cuts after the whole end-of-file record are good: without a line end,
    // with its CR, and with its CR LF.
    EXPECT_EQ(accepted, 3);
}
