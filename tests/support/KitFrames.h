// The words a simulated kit received, in a form tests compare easily.
#pragma once

#include "KitSimulator.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>

using Frames = QList<QPair<quint16, quint16>>; // word address, high << 8 | low

inline Frames framesOf(const KitSimulator &kit)
{
    Frames frames;
    for (const KitFrame &frame : kit.frames())
        frames.append({frame.address, frame.value});
    return frames;
}

// The kit's memory after these frames: the last write of a word wins.
inline QMap<quint16, quint16> memoryOf(const Frames &frames)
{
    QMap<quint16, quint16> memory;
    for (const auto &frame : frames)
        memory.insert(frame.first, frame.second);
    return memory;
}

// The kit's 16-byte answer to 0x3F in the end-to-end tests.
const QByteArray BoundaryKitVersion = QByteArrayLiteral("E2E-KIT Ver2.05 ");

// Boundary words of the write window, an extended address of 0, a record at
// 0x8000 and a word after the end-of-file record: 13 words, 9 of them sent;
// CR LF line ends.
const QByteArray BoundaryFile = QByteArrayLiteral(
    ":020000040000FA\r\n"
    ":080000000102030405060708D4\r\n"   // words 0-3
    ":02009E005AA561\r\n"               // word 0x004F
    ":023DFE001111A1\r\n"               // word 0x1EFF, the last below the gap
    ":023E000022227C\r\n"               // word 0x1F00, not sent
    ":023FBE0033339B\r\n"               // word 0x1FDF, not sent
    ":023FC000444477\r\n"               // word 0x1FE0
    ":043FFC006666777707\r\n"           // words 0x1FFE (sent) and 0x1FFF (not sent)
    ":0280000088886E\r\n"               // word 0x4000, not sent
    ":00000001FF\r\n"
    ":02013C00EFBE14\r\n");             // word 0x009E, after the end-of-file record

// The frames the boundary file gives, in file order.
const Frames BoundaryFrames{{0x0000, 0x0201}, {0x0001, 0x0403}, {0x0002, 0x0605}, {0x0003, 0x0807}, {0x004F, 0xA55A},
                            {0x1EFF, 0x1111}, {0x1FE0, 0x4444}, {0x1FFE, 0x6666}, {0x009E, 0xBEEF}};
