// Reading and checking an Intel HEX file before anything is sent to the kit.
//
// The whole file is read and checked first: a file that fails any check is
// refused as a whole, so a corrupt file is never written halfway into a kit.
// This part works on the file's bytes in memory; reading them from a file
// system is the front end's.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The file cannot be used; what() says why in plain English (for logs and the
// command line), line() gives the 1-based line number, 0 when not tied to one.
class HexFileError : public std::runtime_error {
public:
    explicit HexFileError(const std::string &reason, int line = 0) : std::runtime_error(reason), m_line(line) {}
    int line() const { return m_line; }
    std::string reason() const { return what(); }
    // The reason with its line, "line 12: ...", as a user reads it.
    std::string describe() const;

private:
    int m_line;
};

// One program word of a data record, in file order.
struct HexWord {
    std::uint32_t address = 0; // word address: the record's 16-bit byte address halved, plus k
    std::uint8_t high = 0;     // second byte of the pair in the record
    std::uint8_t low = 0;      // first byte of the pair in the record
    bool inKitMemory = true;   // false when a non-zero extended base (type 02/04) lies over it
};

struct HexImage {
    std::vector<HexWord> words; // every data word of the file, in file order, sent or not
    int recordCount = 0;        // record lines: ':' first, after any blanks or tabs
    std::string sha256;         // of the file's bytes as read, lower-case hex; empty from parse()
};

namespace HexFile {

// Largest file that is read at all.
constexpr std::int64_t MaxFileSize = 16 * 1024 * 1024;

// Parses and checks the bytes of a whole file. A file without an end-of-file
// record is refused: it may have been cut short. Throws HexFileError.
HexImage parse(std::string_view content);

// Refuses a file of more than MaxFileSize bytes; size as the user should read
// it ("17000000", or "more than 16777216" when it was only read that far).
[[noreturn]] void refuseTooLarge(const std::string &fileName, const std::string &size);

} // namespace HexFile
