// The command line as the program got it, byte for byte: a file name that is
// not valid UTF-8 must still open.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QStringList>

class RawArguments {
public:
    RawArguments(int argc, char *argv[])
    {
        for (int i = 0; i < argc; ++i) {
            m_raw.append(QByteArray(argv[i]));
            m_decoded.append(QFile::decodeName(argv[i]));
        }
    }
    QStringList decoded() const { return m_decoded; }
    // False when the argument that gave this value (alone, or as --option=value)
    // holds bytes that do not survive decoding: a device opened by the decoded
    // text would be another one, or none.
    bool keptWhole(const QString &value) const
    {
        for (qsizetype i = 0; i < m_raw.size(); ++i) {
            const QString &argument = m_decoded.at(i);
            const bool gave = argument == value || argument.endsWith(QLatin1Char('=') + value);
            if (gave && QFile::encodeName(argument) != m_raw.at(i))
                return false;
        }
        return true;
    }
    // The bytes behind a positional argument (its last occurrence).
    QByteArray raw(const QString &decoded) const
    {
        const qsizetype i = m_decoded.lastIndexOf(decoded);
        return i >= 0 ? m_raw.at(i) : QFile::encodeName(decoded);
    }

private:
    QList<QByteArray> m_raw;
    QStringList m_decoded;
};
