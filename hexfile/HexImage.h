// Reading and checking an Intel HEX file before anything is sent to the kit.
//
// The whole file is read and checked first: a file that fails any check is
// refused as a whole, so a corrupt file is never written halfway into a kit.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>
#include <stdexcept>

// The file cannot be used; what() says why in plain English (for logs and the
// command line), line() gives the 1-based line number, 0 when not tied to one.
class HexFileError : public std::runtime_error {
public:
    explicit HexFileError(const QString &reason, int line = 0);
    int line() const { return m_line; }
    QString reason() const { return QString::fromUtf8(what()); }
    // The reason with its line, "line 12: ...", as a user reads it.
    QString describe() const;

private:
    int m_line;
};

// One program word of a data record, in file order.
struct HexWord {
    quint32 address = 0;      // word address: the record's 16-bit byte address halved, plus k
    quint8 high = 0;          // second byte of the pair in the record
    quint8 low = 0;           // first byte of the pair in the record
    bool inKitMemory = true;  // false when a non-zero extended base (type 02/04) lies over it
};

struct HexImage {
    QVector<HexWord> words;   // every data word of the file, in file order, sent or not
    int recordCount = 0;      // record lines: ':' first, after any blanks or tabs
    QByteArray sha256;        // of the file's bytes as read, lower-case hex; empty from parse()
};

namespace HexFile {

// Largest file that is read at all.
constexpr qint64 MaxFileSize = 16 * 1024 * 1024;

// Parses and checks the bytes of a whole file. A file without an end-of-file
// record is refused: it may have been cut short. Throws HexFileError.
HexImage parse(const QByteArray &content);

// Reads a regular file (refusing more than MaxFileSize bytes, and anything that is
// not a regular file) and parses it. encodedPath is the name's bytes as the file
// system holds them, so that a name that is not valid UTF-8 opens too.
// Throws HexFileError.
HexImage readEncoded(const QByteArray &encodedPath);

// readEncoded(QFile::encodeName(path)).
HexImage read(const QString &path);

} // namespace HexFile
